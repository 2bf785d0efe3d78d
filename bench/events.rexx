/* events.rexx MODE FILE: reads FILE in 64 KiB pieces with charin and parses them, with
   procedures for start tags, end tags and character data in MODE, each of which takes its
   arguments (parse arg h, a) and does nothing else. Prints "MODE WALL CPU VMHWM": the seconds
   of the read-and-parse loop by the clock and in processor time of the process (BenchCpuTime of
   the benchmark's library quillbench), and the peak resident memory of the process in kB.
     labels    a PROCEDURE label of this program
     instore   in-store source
     external  the program file bench_handler.rexx (found through REGINA_MACROS)
     none      no procedures
     read      no parser: only the charin loop
     preload   no procedures; the pieces are read first, only the parse is timed
     count     a label that counts the events (prints the count in place of VMHWM) */
options NOEXT_COMMANDS_AS_FUNCS
if RxFuncAdd('ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs') \= 0 then do
  say 'cannot load quillmark:' RxFuncErrMsg()
  exit 2
end
if RxFuncAdd('BenchCpuTime', 'quillbench', 'BenchCpuTime') \= 0 then do
  say 'cannot load quillbench:' RxFuncErrMsg()
  exit 2
end
call ExpatLoadFuncs
parse arg mode file
piece = 65536
events = 0

if mode = 'preload' then do
  n = 0
  do forever
    text = charin(file, , piece)
    if text == '' then leave
    n = n + 1
    pieces.n = text
  end
  p = ExpatParserCreate()
  call time 'R'
  cpu = BenchCpuTime()
  do i = 1 to n
    if \ExpatParse(p, pieces.i, 1) then call failed p
  end
  if \ExpatParse(p, '', 0) then call failed p
  seconds = time('E') BenchCpuTime() - cpu
  call ExpatParserFree p
  say mode seconds peakMemory()
  exit 0
end

if mode \= 'read' then p = ExpatParserCreate()
select
  when mode = 'labels' then do
    call ExpatSetElementHandler p, 'handler', , 'internal', 'handler', , 'internal'
    call ExpatSetCharacterDataHandler p, 'handler', , 'internal'
  end
  when mode = 'count' then do
    call ExpatSetElementHandler p, 'counter', , 'internal', 'counter', , 'internal'
    call ExpatSetCharacterDataHandler p, 'counter', , 'internal'
  end
  when mode = 'instore' then do
    call ExpatSetElementHandler p, 'parse arg h, a', , 1, 'parse arg h, a', , 1
    call ExpatSetCharacterDataHandler p, 'parse arg h, a', , 1
  end
  when mode = 'external' then do
    call ExpatSetElementHandler p, 'bench_handler', , , 'bench_handler'
    call ExpatSetCharacterDataHandler p, 'bench_handler'
  end
  when mode = 'none' | mode = 'read' then nop
  otherwise
    say 'unknown mode' mode
    exit 2
end
call time 'R'
cpu = BenchCpuTime()
do forever
  text = charin(file, , piece)
  if text == '' then leave
  if mode \= 'read' then
    if \ExpatParse(p, text, 1) then call failed p
end
if mode \= 'read' then
  if \ExpatParse(p, '', 0) then call failed p
seconds = time('E') BenchCpuTime() - cpu
if mode \= 'read' then call ExpatParserFree p
if mode = 'count' then say mode seconds events
else say mode seconds peakMemory()
exit 0

handler: procedure
  parse arg h, a
  return

counter:
  events = events + 1
  return

failed:
  say 'parse failed:' ExpatErrorString(ExpatGetErrorCode(arg(1)))
  exit 1

/* VmHWM of this process, in kB. */
peakMemory: procedure
  f = '/proc/self/status'
  do forever
    line = linein(f)
    if line = '' then leave
    parse var line name value .
    if name = 'VmHWM:' then do
      call stream f, 'c', 'close'
      return value
    end
  end
  return '?'
