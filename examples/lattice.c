/* listen for: a rough, marching texture whose grain changes every eight
   seconds, with a little step of pitch added on top. A formula credited to
   viznut in the 2011 collections, as it was published: its shift by
   t >> 16 counts modulo 32 once t passes 2^21, as C on x86 did
   (lattice.txt is the same formula on the machine's unsigned words) */
(t>>6|t|t>>(t>>16))*10+((t>>11)&7)
