/* callback.rexx COUNT HANDLE: calls the label handler COUNT times through RexxCallBack from the
   external function BenchCallBack, with the arguments a label handler gets for the events of
   items documents (HANDLE and one value), and prints "callback WALL CPU COUNT": the seconds
   the calls took by the clock and in processor time. */
options NOEXT_COMMANDS_AS_FUNCS
if RxFuncAdd('BenchCallBack', 'quillbench', 'BenchCallBack') \= 0 then do
  say 'cannot load quillbench:' RxFuncErrMsg()
  exit 2
end
parse arg count handle
say 'callback' BenchCallBack('handler', count, handle, 'item', 'text', 'item', '0a'x) count
exit 0

/* The same label as events.rexx's. */
handler: procedure
  parse arg h, a
  return
