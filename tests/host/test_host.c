/*
 * A minimal host written in C against the public header only. The tests of
 * the entry point run it as a child process, because the library runs one job
 * per process.
 *
 *   varnel_test_host REQUEST [-- REQUEST]...
 *   REQUEST = MODE [KEY VALUE]...      MODE is an integer; a trailing 'n'
 *                                      (e.g. "0n") passes a null callback
 *   varnel_test_host race MODE [KEY VALUE]...   two threads call at once
 *   varnel_test_host reenter MODE [KEY VALUE]...
 *                                      the progress callback calls varnel_run
 *                                      again with the same request and writes
 *                                      "inner STATUS FINAL_ITERATION"
 *
 * Each request is run in order; after each, one line
 *   "result STATUS FINAL_ITERATION"
 * goes to standard error, as does one line "event STAGE ITERATION RMS" per
 * progress event.
 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnel/varnel.h"

static void on_progress(int32_t stage, int32_t iteration, double rms) {
  fprintf(stderr, "event %d %d %.6f\n", stage, iteration, rms);
  fflush(stderr);
}

struct request {
  int32_t mode;
  int callback;
  int nfields;
  char* block;
};

static void build(struct request* r, int argc, char** argv) {
  int i;
  char* end = NULL;
  r->mode = (int32_t)strtol(argv[0], &end, 10);
  r->callback = !(end && *end == 'n');
  r->nfields = argc - 1;
  r->block = calloc((size_t)(r->nfields > 0 ? r->nfields : 1), VARNEL_FIELD_SIZE);
  for (i = 0; i < r->nfields; ++i) {
    size_t len = strlen(argv[i + 1]);
    if (len > VARNEL_FIELD_SIZE) len = VARNEL_FIELD_SIZE;
    memcpy(r->block + (size_t)i * VARNEL_FIELD_SIZE, argv[i + 1], len);
  }
}

static int32_t run(const struct request* r, int32_t* final_iteration) {
  return varnel_run(r->mode, r->nfields, r->block, r->callback ? on_progress : NULL,
                    final_iteration);
}

static const struct request* reentered = NULL;

static void on_progress_reenter(int32_t stage, int32_t iteration, double rms) {
  int32_t final_iteration = 12345;
  int32_t status;
  on_progress(stage, iteration, rms);
  status = varnel_run(reentered->mode, reentered->nfields, reentered->block, on_progress_reenter,
                      &final_iteration);
  fprintf(stderr, "inner %d %d\n", status, final_iteration);
  fflush(stderr);
}

struct race_slot {
  const struct request* r;
  int32_t status;
  int32_t final_iteration;
};

static void* race_thread(void* arg) {
  struct race_slot* s = arg;
  s->status = run(s->r, &s->final_iteration);
  return NULL;
}

int main(int argc, char** argv) {
  int start = 1;
  if (argc > 2 && strcmp(argv[1], "race") == 0) {
    struct request r;
    struct race_slot a, b;
    pthread_t ta, tb;
    build(&r, argc - 2, argv + 2);
    a.r = b.r = &r;
    pthread_create(&ta, NULL, race_thread, &a);
    pthread_create(&tb, NULL, race_thread, &b);
    pthread_join(ta, NULL);
    pthread_join(tb, NULL);
    fprintf(stderr, "result %d %d\nresult %d %d\n", a.status, a.final_iteration, b.status,
            b.final_iteration);
    free(r.block);
    return 0;
  }
  if (argc > 2 && strcmp(argv[1], "reenter") == 0) {
    struct request r;
    int32_t final_iteration = 12345;
    int32_t status;
    build(&r, argc - 2, argv + 2);
    reentered = &r;
    status = varnel_run(r.mode, r.nfields, r.block, on_progress_reenter, &final_iteration);
    fprintf(stderr, "result %d %d\n", status, final_iteration);
    if (status == VARNEL_REJECTED || status == VARNEL_JOB_FAILED)
      fprintf(stderr, "error %s\n", varnel_last_error());
    free(r.block);
    return 0;
  }
  while (start < argc) {
    int stop = start;
    struct request r;
    int32_t final_iteration = 12345;
    int32_t status;
    while (stop < argc && strcmp(argv[stop], "--") != 0) ++stop;
    build(&r, stop - start, argv + start);
    status = run(&r, &final_iteration);
    fprintf(stderr, "result %d %d\n", status, final_iteration);
    if (status == VARNEL_REJECTED || status == VARNEL_JOB_FAILED)
      fprintf(stderr, "error %s\n", varnel_last_error());
    fflush(stderr);
    free(r.block);
    start = stop + 1;
  }
  return 0;
}
