/*
 * zm: room-acoustics engine, public C interface.
 *
 * The host hands the engine one packed design record and receives an
 * impulse-response file; it can also save and load designs and single
 * materials. Every function but ZM_getVersion reports its outcome through a
 * caller-supplied TErrorRecord and never lets a failure escape.
 *
 * All records are packed and little-endian; doubles are IEEE 754 64-bit.
 * Text fields are char[65]: read up to the first zero byte or all 65 bytes,
 * written zero-filled. A slot of a fixed array is used when its first byte
 * (InUse) is nonzero.
 */
#ifndef ZM_ZM_H
#define ZM_ZM_H

#include <stddef.h>
#include <stdint.h>

/* Calling conventions: cdecl exports and a stdcall progress callback on
 * 32-bit Windows, the platform default everywhere else. The exports realign
 * the stack on entry there, because hosts may call them with only 4-byte
 * alignment while the library uses SSE2. */
#if defined(_WIN32) && !defined(_WIN64)
#if defined(__GNUC__)
#define ZM_CALL __attribute__((cdecl, force_align_arg_pointer))
#define ZM_CALLBACK __attribute__((stdcall))
#else
#define ZM_CALL __cdecl
#define ZM_CALLBACK __stdcall
#endif
#else
#define ZM_CALL
#define ZM_CALLBACK
#endif

#if defined(_WIN32)
#if defined(ZM_BUILDING_LIBRARY)
#define ZM_API __declspec(dllexport)
#elif defined(ZM_STATIC)
#define ZM_API
#else
#define ZM_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && defined(ZM_BUILDING_LIBRARY)
#define ZM_API __attribute__((visibility("default")))
#else
#define ZM_API
#endif

#ifdef __cplusplus
#define ZM_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define ZM_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#define ZM_VERSION 400
#define ZM_NAME_LENGTH 65
#define ZM_MESSAGE_LENGTH 128
#define ZM_EMITTER_SLOTS 10
#define ZM_WALL_SLOTS 150
#define ZM_POINT_SLOTS 200
#define ZM_MATERIAL_SLOTS 20
#define ZM_GROUP_SLOTS 64
#define ZM_BAND_COUNT 8
#define ZM_CHANNEL_COUNT 8 /* output channels a receiver wall may use: 0 to 7 */
#define ZM_HOST_BLOCK_SIZE 4096

/* Names with a meaning of their own in design and material files: a used
 * material of this name describes the air, and design loading names a group
 * 0 that it creates this way. */
#define ZM_AIR_MATERIAL_NAME "** AIR **"
#define ZM_DEFAULT_GROUP_NAME "** Default **"

/* The air material's factors apply per this many metres of path. A design
 * without one gets AirAttenuation (per metre) raised to this power. */
#define ZM_AIR_UNIT_METRES 75.0

#pragma pack(push, 1)

/* One sound source (166 bytes). */
typedef struct TEmitterEntry {
  uint8_t InUse;
  int32_t Point;              /* index into Points */
  double Direction;           /* main direction of the fan, radians */
  int32_t RayCount;           /* number of rays */
  double Spread;              /* angular width of the fan, radians */
  uint8_t RandomDirections;   /* set: angles drawn at random inside the fan */
  double Level;               /* weight in the fixed-gain normalisation */
  int32_t Group;              /* emitter group, 0 to 63 */
  uint8_t UseDefaultRayCount; /* set: DefaultRayCount replaces RayCount */
  uint8_t Reserved[127];
} TEmitterEntry;

/* One wall, a straight segment between two points (47 bytes). A receiver
 * wall is also a microphone line whose crossings are recorded. */
typedef struct TWallEntry {
  uint8_t InUse;
  int32_t StartPoint;  /* index into Points */
  int32_t EndPoint;    /* index into Points */
  uint8_t PassThrough; /* set: rays go on instead of reflecting */
  uint8_t Receiver;    /* set: every ray meeting the wall is recorded */
  int32_t Material;    /* index into Materials; the wall uses that slot's Name */
  int32_t Channel;     /* output channel of a receiver, 0 to 7 */
  double Gain;         /* amplitude factor of a receiver's arrivals */
  int32_t Pattern;     /* receiver directivity: 1..4 give 0.25..1.0, else 0 */
  uint8_t Reserved[16];
} TWallEntry;

/* One point of the plan (21 bytes). */
typedef struct TPointEntry {
  uint8_t HostData[5]; /* kept for the host, not read */
  double X;            /* scaled to metres by CoordinateScale */
  double Y;
} TPointEntry;

/* One wall material (186 bytes); also the payload of a material file. */
typedef struct TMaterialEntry {
  uint8_t InUse;
  char Name[ZM_NAME_LENGTH]; /* unique among used slots; "** AIR **" is the air */
  double Reflection;         /* broadband amplitude factor per hit */
  double Scatter;            /* width of the random reflection deviation, radians */
  double BandFactors[ZM_BAND_COUNT]; /* amplitude factor per frequency band */
  uint8_t Reserved[40];
} TMaterialEntry;

/* One emitter group (198 bytes). */
typedef struct TGroupEntry {
  uint8_t InUse;
  uint8_t HostData[4]; /* not read */
  char Name[ZM_NAME_LENGTH];
  int32_t DefaultMark; /* set to 1 by design loading when it creates group 0 */
  uint8_t Reserved[124];
} TGroupEntry;

/* The whole design of one room (33796 bytes). */
typedef struct TDesignRecord {
  char Title[ZM_NAME_LENGTH];
  char Comment[ZM_NAME_LENGTH];
  double ImpulseLength;   /* seconds */
  double MinAmplitude;    /* rays weaker than this stop */
  int32_t SampleRate;     /* Hz; below 44100 is used as 44100 */
  int32_t BitsPerSample;  /* 8, 16, 24 or 32 (float) */
  int32_t WindowType;     /* band filter window, 0 to 5 */
  int32_t FilterLength;   /* filter taps per arrival */
  double AirAttenuation;  /* amplitude factor per metre of air */
  double CoordinateScale; /* point units to metres */
  int32_t RandomSeed;
  int32_t SubArrivals;      /* extra diffuse arrivals from the third reflection on */
  double Balance;           /* -1 to 1 */
  double StereoWidth;       /* 1 unchanged, 0 mono, -1 swapped */
  int32_t TrimToDirect;     /* nonzero: output starts at the first direct arrival */
  int32_t DirectSoundLevel; /* 0: no direct sound; k > 0: level up 10^0.15 per unit */
  int16_t LeadIn;           /* nonzero: 512 samples of lead-in */
  int16_t GainMode;         /* 0: normalise to 0.995 peak; nonzero: fixed gain */
  double FixedGainDb;       /* linear gain 10^((FixedGainDb + 48) / 20) */
  int32_t DefaultRayCount;
  uint8_t Reserved1[44];
  TEmitterEntry Emitters[ZM_EMITTER_SLOTS];
  TWallEntry Walls[ZM_WALL_SLOTS];
  TPointEntry Points[ZM_POINT_SLOTS];
  TMaterialEntry Materials[ZM_MATERIAL_SLOTS];
  uint8_t HostBlock[ZM_HOST_BLOCK_SIZE]; /* the host's own data, kept through files */
  TGroupEntry Groups[ZM_GROUP_SLOTS];
  uint8_t Reserved2[128];
} TDesignRecord;

/* Outcome of a call. On failure Message holds the first 128 characters of
 * the message, zero-filled; a message of 128 characters or more has no
 * terminating zero. On success Message is left as it was. */
typedef struct TErrorRecord {
  uint8_t Failed;
  char Message[ZM_MESSAGE_LENGTH];
} TErrorRecord;

#pragma pack(pop)

/* Called before every 512th ray with the rays traced so far, the rays of the
 * whole run and the caller's userData. The host may set the abort byte from
 * here; the engine reads it right after each call. */
typedef void(ZM_CALLBACK* TProgressCallback)(int32_t done, int32_t total, void* userData);

/* Traces emitter group `group` (0 to 63) of `design` and writes the impulse
 * response to `outputFile` as RIFF/WAVE. An aborted run writes nothing and
 * reports success. */
ZM_API void ZM_CALL ZM_process(const TDesignRecord* design, const char* outputFile,
                               TErrorRecord* error, uint8_t* abortFlag,
                               TProgressCallback progress, void* userData, int32_t group);

/* Design files: the current layout and five older ones, converted on load. */
ZM_API void ZM_CALL ZM_loadSetup(const char* fileName, TDesignRecord* design,
                                 TErrorRecord* error);
ZM_API void ZM_CALL ZM_saveSetup(const char* fileName, const TDesignRecord* design,
                                 TErrorRecord* error);

/* Material files: one material entry. */
ZM_API void ZM_CALL ZM_loadMaterial(const char* fileName, TMaterialEntry* material,
                                    TErrorRecord* error);
ZM_API void ZM_CALL ZM_saveMaterial(const char* fileName, const TMaterialEntry* material,
                                    TErrorRecord* error);

/* Always 400. */
ZM_API int32_t ZM_CALL ZM_getVersion(void);

/* The layout is part of the interface: every size and offset is fixed. */
ZM_STATIC_ASSERT(sizeof(double) == 8, "double must be 64-bit");

ZM_STATIC_ASSERT(sizeof(TEmitterEntry) == 166, "TEmitterEntry size");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, InUse) == 0, "TEmitterEntry.InUse");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Point) == 1, "TEmitterEntry.Point");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Direction) == 5, "TEmitterEntry.Direction");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, RayCount) == 13, "TEmitterEntry.RayCount");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Spread) == 17, "TEmitterEntry.Spread");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, RandomDirections) == 25, "TEmitterEntry.RandomDirections");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Level) == 26, "TEmitterEntry.Level");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Group) == 34, "TEmitterEntry.Group");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, UseDefaultRayCount) == 38,
                 "TEmitterEntry.UseDefaultRayCount");
ZM_STATIC_ASSERT(offsetof(TEmitterEntry, Reserved) == 39, "TEmitterEntry.Reserved");

ZM_STATIC_ASSERT(sizeof(TWallEntry) == 47, "TWallEntry size");
ZM_STATIC_ASSERT(offsetof(TWallEntry, InUse) == 0, "TWallEntry.InUse");
ZM_STATIC_ASSERT(offsetof(TWallEntry, StartPoint) == 1, "TWallEntry.StartPoint");
ZM_STATIC_ASSERT(offsetof(TWallEntry, EndPoint) == 5, "TWallEntry.EndPoint");
ZM_STATIC_ASSERT(offsetof(TWallEntry, PassThrough) == 9, "TWallEntry.PassThrough");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Receiver) == 10, "TWallEntry.Receiver");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Material) == 11, "TWallEntry.Material");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Channel) == 15, "TWallEntry.Channel");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Gain) == 19, "TWallEntry.Gain");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Pattern) == 27, "TWallEntry.Pattern");
ZM_STATIC_ASSERT(offsetof(TWallEntry, Reserved) == 31, "TWallEntry.Reserved");

ZM_STATIC_ASSERT(sizeof(TPointEntry) == 21, "TPointEntry size");
ZM_STATIC_ASSERT(offsetof(TPointEntry, X) == 5, "TPointEntry.X");
ZM_STATIC_ASSERT(offsetof(TPointEntry, Y) == 13, "TPointEntry.Y");

ZM_STATIC_ASSERT(sizeof(TMaterialEntry) == 186, "TMaterialEntry size");
ZM_STATIC_ASSERT(offsetof(TMaterialEntry, Name) == 1, "TMaterialEntry.Name");
ZM_STATIC_ASSERT(offsetof(TMaterialEntry, Reflection) == 66, "TMaterialEntry.Reflection");
ZM_STATIC_ASSERT(offsetof(TMaterialEntry, Scatter) == 74, "TMaterialEntry.Scatter");
ZM_STATIC_ASSERT(offsetof(TMaterialEntry, BandFactors) == 82, "TMaterialEntry.BandFactors");
ZM_STATIC_ASSERT(offsetof(TMaterialEntry, Reserved) == 146, "TMaterialEntry.Reserved");

ZM_STATIC_ASSERT(sizeof(TGroupEntry) == 198, "TGroupEntry size");
ZM_STATIC_ASSERT(offsetof(TGroupEntry, HostData) == 1, "TGroupEntry.HostData");
ZM_STATIC_ASSERT(offsetof(TGroupEntry, Name) == 5, "TGroupEntry.Name");
ZM_STATIC_ASSERT(offsetof(TGroupEntry, DefaultMark) == 70, "TGroupEntry.DefaultMark");
ZM_STATIC_ASSERT(offsetof(TGroupEntry, Reserved) == 74, "TGroupEntry.Reserved");

ZM_STATIC_ASSERT(sizeof(TDesignRecord) == 33796, "TDesignRecord size");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Comment) == 65, "TDesignRecord.Comment");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, ImpulseLength) == 130, "TDesignRecord.ImpulseLength");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, MinAmplitude) == 138, "TDesignRecord.MinAmplitude");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, SampleRate) == 146, "TDesignRecord.SampleRate");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, BitsPerSample) == 150, "TDesignRecord.BitsPerSample");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, WindowType) == 154, "TDesignRecord.WindowType");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, FilterLength) == 158, "TDesignRecord.FilterLength");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, AirAttenuation) == 162, "TDesignRecord.AirAttenuation");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, CoordinateScale) == 170,
                 "TDesignRecord.CoordinateScale");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, RandomSeed) == 178, "TDesignRecord.RandomSeed");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, SubArrivals) == 182, "TDesignRecord.SubArrivals");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Balance) == 186, "TDesignRecord.Balance");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, StereoWidth) == 194, "TDesignRecord.StereoWidth");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, TrimToDirect) == 202, "TDesignRecord.TrimToDirect");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, DirectSoundLevel) == 206,
                 "TDesignRecord.DirectSoundLevel");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, LeadIn) == 210, "TDesignRecord.LeadIn");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, GainMode) == 212, "TDesignRecord.GainMode");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, FixedGainDb) == 214, "TDesignRecord.FixedGainDb");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, DefaultRayCount) == 222,
                 "TDesignRecord.DefaultRayCount");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Reserved1) == 226, "TDesignRecord.Reserved1");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Emitters) == 270, "TDesignRecord.Emitters");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Walls) == 1930, "TDesignRecord.Walls");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Points) == 8980, "TDesignRecord.Points");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Materials) == 13180, "TDesignRecord.Materials");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, HostBlock) == 16900, "TDesignRecord.HostBlock");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Groups) == 20996, "TDesignRecord.Groups");
ZM_STATIC_ASSERT(offsetof(TDesignRecord, Reserved2) == 33668, "TDesignRecord.Reserved2");

ZM_STATIC_ASSERT(sizeof(TErrorRecord) == 129, "TErrorRecord size");
ZM_STATIC_ASSERT(offsetof(TErrorRecord, Message) == 1, "TErrorRecord.Message");

#ifdef __cplusplus
}
#endif

#endif /* ZM_ZM_H */
