/* listen for: a bright chiptune melody whose notes come in bursts, with a
   rhythm that keeps changing its mind. A formula credited to visy in the
   2011 collections, as it was published (chip.txt is the same tune as
   program text) */
t*((t>>9|t>>13)&25&t>>6)
