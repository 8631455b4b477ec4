/*
 * varnel: 2-D DC resistivity forward modelling and Occam inversion.
 *
 * The public C interface of libvarnel.so. A host passes a job as a block of
 * key/value option fields of 256 bytes each, a progress callback and a place
 * for the number of the last iteration; the library runs the job on the
 * calling thread and returns a status code. One job runs per process.
 */
#ifndef VARNEL_VARNEL_H
#define VARNEL_VARNEL_H

#include <stdint.h>

#if defined(_WIN32)
#define VARNEL_EXPORT __declspec(dllexport)
#else
#define VARNEL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size in bytes of one key or value field of the key/value block. */
#define VARNEL_FIELD_SIZE 256

/* Kind of job passed as `mode`. */
#define VARNEL_MODE_INVERSION 0
#define VARNEL_MODE_FORWARD 1

/* Status codes returned by varnel_run. */
#define VARNEL_OK 0               /* the driver finished the job */
#define VARNEL_REJECTED 1         /* the request was rejected before any work */
#define VARNEL_GRID_MISMATCH 2    /* initial and prior model grids differ */
#define VARNEL_NAN_MISFIT 3       /* trial models gave a NaN misfit too often */
#define VARNEL_ALREADY_USED 4     /* a job already ran in this process */
#define VARNEL_JOB_FAILED 5       /* an input or numerical error ended the job;
                                     the message is in the log and in
                                     varnel_last_error() */

/* Progress callback: stage 0 start, 1 initial misfit known, 2 iteration done,
   3 all output written. Called on the thread that called varnel_run. */
typedef void (*varnel_progress_fn)(int32_t stage, int32_t iteration, double rms);

/*
 * Run one job.
 *   mode             VARNEL_MODE_INVERSION or VARNEL_MODE_FORWARD
 *   argc             number of 256-byte fields in `arguments` (keys plus
 *                    values, even, 2 to 128)
 *   arguments        field 2k is the key, field 2k+1 the value of pair k;
 *                    each a NUL-terminated string of at most 255 bytes
 *   callback         progress function, may be NULL
 *   final_iteration  receives the last iteration number, -1 when none
 * Returns one of the status codes above.
 */
VARNEL_EXPORT int32_t varnel_run(int32_t mode, int32_t argc, const char* arguments,
                                 varnel_progress_fn callback, int32_t* final_iteration);

/* Version of this calling interface: 1. */
VARNEL_EXPORT int32_t varnel_abi_version(void);

/* Message of the last rejection or failure, NUL-terminated; "" when none.
   Valid until the next call of varnel_run. */
VARNEL_EXPORT const char* varnel_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* VARNEL_VARNEL_H */
