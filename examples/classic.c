/* listen for: a melody that climbs a repeating stair of steps over a gritty
   bass, and turns into another every few seconds as higher bits of t join
   in. The classic formula of 2011, first heard in viznut's video of music
   from very short C programs, written as it was published (classic.txt is
   the same tune as program text) */
t*((t>>12|t>>8)&63&t>>4)
