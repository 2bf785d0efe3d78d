-- lxp_peer.lua FILE: Lua's lxp on FILE in 64 KiB pieces, with callbacks for start tags, end
-- tags and character data that do nothing. Prints "lxp - CPU": the seconds in processor time
-- (os.clock); plain Lua has no fine wall clock, hence the "-".
local lxp = require("lxp")
local noop = function() end
local input = assert(io.open(arg[1], "rb"))
local start = os.clock()
local p = lxp.new({StartElement = noop, EndElement = noop, CharacterData = noop})
while true do
  local piece = input:read(65536)
  if not piece then break end
  assert(p:parse(piece))
end
assert(p:parse())
p:close()
print(string.format("lxp - %.6f", os.clock() - start))
