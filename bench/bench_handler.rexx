/* The external handler of events.rexx: takes its arguments and does nothing else. */
parse arg h, a
return
