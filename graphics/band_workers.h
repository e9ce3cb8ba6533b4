// Large pixel jobs split into bands of rows, run on the calling thread and
// a few helper threads at once: one core does not keep the memory bus busy
// on a picture that overflows its caches. A job's bands must be
// independent (no band reads what another writes); the caller checks that
// before asking. Small jobs, a job asked for while another runs, and a
// process whose helpers could not start run whole on the calling thread.
// Helpers only ever touch the pixels the job names. VL_FASTPATHS=off or
// nobands keeps every job whole; bands splits every job that is large
// enough, whatever the caches hold.
#pragma once
#include <cstdint>

// Runs rows [firstRow, endRow) of the job.
using vlBandFn = void (*)(void* context, int32_t firstRow, int32_t endRow);

// Runs fn over rows [0, rows) and returns when every band has run. pixels
// and bytes (what the job reads and writes) decide whether it is split at
// all: from kBandFromPixels pixels on, and only once its bytes overflow
// what the calling core keeps close (BandFromBytes): below that, helpers
// would only pull the caller's cached pixels across and slow it down.
void RunInBands(int32_t rows, int64_t pixels, int64_t bytes, vlBandFn fn, void* context);

// The most helper threads to start (0: every job runs on the calling
// thread; -1: the default for this processor). Returns the previous limit.
int32_t SetBandHelpers(int32_t count);
// The bytes from which a job is split (-1: the default, two and a half
// times the per-core second-level cache; 0 with VL_FASTPATHS=bands).
// Returns the previous setting. Tests compare split and whole results with
// these two.
int64_t SetBandFromBytes(int64_t bytes);
int64_t BandFromBytes();

// Jobs from this many pixels on may be split.
constexpr int64_t kBandFromPixels = int64_t{1} << 18;
