/* events.rexx MODE COUNT: parses a document of COUNT elements with text, with handlers for
   start, end and character data in MODE (none, instore, external, baseline), and prints the
   seconds it took. "baseline" runs no parser: it calls an internal procedure as often as the
   handlers would run, the cost of the Rexx work itself. */
call RxFuncAdd 'ExpatLoadFuncs', 'quillmark', 'ExpatLoadFuncs'
call ExpatLoadFuncs
parse arg mode count
doc = '<doc>' || copies('<item n="1">text</item>', count) || '</doc>'
call time 'R'
if mode = 'baseline' then do
  do i = 1 to 3 * count + 2
    call handler 'h', 'item'
  end
end
else do
  p = ExpatParserCreate()
  select
    when mode = 'instore' then do
      call ExpatSetElementHandler p, 'return', , 1, 'return', , 1
      call ExpatSetCharacterDataHandler p, 'return', , 1
    end
    when mode = 'external' then do
      call ExpatSetElementHandler p, 'bench_handler', , , 'bench_handler'
      call ExpatSetCharacterDataHandler p, 'bench_handler'
    end
    otherwise nop
  end
  if \ExpatParse(p, doc, 0) then say 'parse failed'
  call ExpatParserFree p
end
say mode count format(time('E'), , 4)
exit

handler: procedure
  return
