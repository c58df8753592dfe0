/*
 * zmtool: the zm tool's logic for other front ends (the Python package),
 * as a plain C interface over the same code the zm command uses.
 *
 * Every function but zmtool_free and zmtool_process_fast (which reports as
 * ZM_process does) returns ZMTOOL_OK (0) or an error code and, on failure, writes a zero-terminated
 * message (truncated to fit) into `message` when it is not null and `messageSize` is positive.
 * Outputs are written only on success. Text and sample buffers the library allocates are released
 * with zmtool_free.
 *
 * Samples are interleaved doubles, frame after frame (frames x channels),
 * full scale +-1.
 */
#ifndef ZM_ZMTOOL_H
#define ZM_ZMTOOL_H

#include <stddef.h>

#include "zm/zm.h"

#if defined(__GNUC__) && defined(ZMTOOL_BUILDING_LIBRARY)
#define ZMTOOL_API __attribute__((visibility("default")))
#else
#define ZMTOOL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZMTOOL_OK 0
#define ZMTOOL_BAD_INPUT 1 /* a document, file or argument that cannot be used */
#define ZMTOOL_REFUSED 2   /* a design the engine refuses to render */

/* A design from its JSON text. Materials given by absorption, by catalogue
 * name or by material file are lowered to record values; relative material
 * file paths start from `baseFolder` (null or "" for the current folder). */
ZMTOOL_API int zmtool_design_from_json(const char* jsonText, const char* baseFolder,
                                       TDesignRecord* design, char* message, size_t messageSize);

/* The JSON text of a design; `*json` is freed with zmtool_free. */
ZMTOOL_API int zmtool_design_to_json(const TDesignRecord* design, char** json, char* message,
                                     size_t messageSize);

/* A material entry from a material's JSON text (any material form). */
ZMTOOL_API int zmtool_material_from_json(const char* jsonText, const char* baseFolder,
                                         TMaterialEntry* material, char* message,
                                         size_t messageSize);

ZMTOOL_API int zmtool_material_to_json(const TMaterialEntry* material, char** json, char* message,
                                       size_t messageSize);

/* Would the engine render emitter group `group` of `design`? ZMTOOL_OK when
 * it would, ZMTOOL_REFUSED with the reason otherwise. When the design came
 * from JSON, `jsonText` (may be null) lets the reason name the JSON path. */
ZMTOOL_API int zmtool_check_design(const TDesignRecord* design, const char* jsonText, int group,
                                   char* message, size_t messageSize);

/* The catalogue entries matching every word of `query` (null or "" for all),
 * as a JSON array of {id, name, category, source, row, bands, absorption}. */
ZMTOOL_API int zmtool_catalogue(const char* query, char** json, char* message, size_t messageSize);

/* Reads a sound file through libsndfile. */
ZMTOOL_API int zmtool_read_audio(const char* path, double** samples, size_t* frames, int* channels,
                                 int* sampleRate, char* message, size_t messageSize);

/* The room-acoustic figures of an impulse response, as the analyze
 * command's JSON. */
ZMTOOL_API int zmtool_analyze(const double* samples, size_t frames, int channels, int sampleRate,
                              char** json, char* message, size_t messageSize);

/* `dry` (one or two channels) convolved with `ir`, at the dry signal's
 * rate. `gainDb` null normalises the peak to -1 dBFS; otherwise it is the
 * fixed gain. `appliedGainDb` (may be null) receives the gain used. */
ZMTOOL_API int zmtool_auralise(const double* dry, size_t dryFrames, int dryChannels, int dryRate,
                               const double* ir, size_t irFrames, int irChannels, int irRate,
                               const double* gainDb, double** output, size_t* outputFrames,
                               int* outputChannels, double* appliedGainDb, char* message,
                               size_t messageSize);

/* `samples` (frames x channels) at `fromRate` resampled to `toRate` by
 * soxr's band-limited interpolation: sample values are kept, so a steady
 * signal keeps its level (an impulse's sum of samples scales by
 * toRate / fromRate). */
ZMTOOL_API int zmtool_resample(const double* samples, size_t frames, int channels, int fromRate,
                               int toRate, double** output, size_t* outputFrames, char* message,
                               size_t messageSize);

/* Writes `samples` as a WAVE file of 32-bit floats; the same samples give
 * the same bytes. */
ZMTOOL_API int zmtool_write_audio(const char* path, const double* samples, size_t frames,
                                  int channels, int sampleRate, char* message, size_t messageSize);

/* The direct sound's physical level for emitter group `group`, as JSON:
 * {"level": the DirectSoundLevel `zm render --physical-direct` uses, or null
 * with "reason"; "pairs": per emitter of the group and receiver wall it
 * reaches directly, {"emitter", "receiver" (slots), "distance" (m), "rays",
 * "physicalLevel" (not rounded), "errorDb" (of "level"), "designErrorDb" (of
 * the design's own level)}}: each level step is 3 dB of direct energy. */
ZMTOOL_API int zmtool_direct_level(const TDesignRecord* design, int group, char** json,
                                   char* message, size_t messageSize);

/* The diffuse-field reverberation estimate of `zm info`, as JSON:
 * {"available", "reason", "area" (m²), "perimeter" (m), "meanFreePath" (m),
 * "hitsPerSecond" (wall faces met per second), "bands": [{"centreHz",
 * "absorption" (mean of the faces), "otherLoss" (1/s of energy decay
 * besides the walls), "sabine", "eyring" (s; null when infinite)}]}. In
 * each band, Eyring's decay rate is hitsPerSecond * -ln(1 - absorption) +
 * otherLoss, and T60 = 6 ln(10) / rate. */
ZMTOOL_API int zmtool_reverberation_estimate(const TDesignRecord* design, char** json,
                                             char* message, size_t messageSize);

/* The figures of zm/zm.h that front ends in other languages restate, as the
 * library was built with them: a JSON object of designRecordSize,
 * materialEntrySize, nameLength, bandCount, groupSlots, emitterSlots,
 * wallSlots, pointSlots, materialSlots, channelCount, minSampleRate,
 * leadInFrames and memoryPrefix. A front end compares them with its own
 * before it uses the library. */
ZMTOOL_API int zmtool_constants(char** json, char* message, size_t messageSize);

/* Fast mode: renders emitter group `group` of `design` into `outputFile` as
 * ZM_process does, with its arguments, refusals and messages in `error`,
 * its abort byte (cleared at the start, read after each progress call),
 * its progress calls (every 512 rays, none after the last) and no file on
 * abort or failure; it never throws. What differs is the tracing: rays are
 * independent of each other and spread over the machine's cores, so the
 * result is the same room statistically (decay, clarity, early
 * reflections), not the exact path's bytes. The same design and seed give
 * the same bytes on any thread count and processor.
 * A design given a height (a record carrying an intact height tag, as the
 * JSON "height", "floor" and "ceiling" make it) is traced as a room of
 * that height with its floor and ceiling, rather than through the folded
 * air loss the exact path uses; any other record is traced in plan. */
ZMTOOL_API void zmtool_process_fast(const TDesignRecord* design, const char* outputFile,
                                    TErrorRecord* error, uint8_t* abortFlag,
                                    TProgressCallback progress, void* userData, int32_t group);

/* Releases what the functions above allocated; null is ignored. */
ZMTOOL_API void zmtool_free(void* pointer);

#ifdef __cplusplus
}
#endif

#endif /* ZM_ZMTOOL_H */
