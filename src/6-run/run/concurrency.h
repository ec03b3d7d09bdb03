// How many threads a run uses: the processors are counted once, here, and
// every decision about threads is made from that count.
#ifndef KORVANE_RUN_CONCURRENCY_H_
#define KORVANE_RUN_CONCURRENCY_H_

struct Concurrency {
  int processors = 1;
  // Tree mode: bases converted at once.
  int jobs = 1;
  // A streamed output is written by a thread of its own from the start
  // (one conversion and a processor to spare). In tree mode with more
  // jobs, the bases still in progress get one once a worker has left a
  // processor spare.
  bool writeThread = false;
};

// For a tree run (jobs asked, 0 for one per processor) or a single base.
Concurrency ConcurrencyFor(bool tree, int jobs);

#endif  // KORVANE_RUN_CONCURRENCY_H_
