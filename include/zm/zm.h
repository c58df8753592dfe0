/*
 * zm: room-acoustics engine, public C interface.
 *
 * The host keeps a whole room in one packed TDesignRecord: points of the
 * plan, walls between them made of named materials, sound emitters, walls
 * that act as microphones (receivers), and the processing options.
 * ZM_process traces the sound of one emitter group through the room and
 * writes the impulse response as a RIFF/WAVE file. ZM_loadSetup and
 * ZM_saveSetup move a design record to and from a design file,
 * ZM_loadMaterial and ZM_saveMaterial one material entry to and from a
 * material file. Every function but ZM_getVersion reports its outcome
 * through a TErrorRecord that the caller supplies; no failure escapes.
 *
 * Rendering one design
 *
 *   static TDesignRecord d;   // all zero: every slot unused
 *   TErrorRecord error;
 *   uint8_t abortFlag;
 *   d.ImpulseLength = 0.5;    // seconds
 *   d.MinAmplitude = 0.001;   // rays end below this
 *   d.SampleRate = 48000;
 *   d.BitsPerSample = 24;
 *   d.FilterLength = 32;
 *   d.AirAttenuation = 0.9995;  // per metre
 *   d.CoordinateScale = 1.0;    // points are in metres
 *   d.StereoWidth = 1.0;
 *   // A plastered 6 m x 4 m room: wall i runs from corner i to corner i + 1.
 *   d.Materials[0].InUse = 1;
 *   strcpy(d.Materials[0].Name, "Plaster");  // walls find it by this name
 *   d.Materials[0].Reflection = 0.9;
 *   for (int b = 0; b < ZM_BAND_COUNT; ++b) d.Materials[0].BandFactors[b] = 0.95;
 *   const double corners[4][2] = {{0, 0}, {6, 0}, {6, 4}, {0, 4}};
 *   for (int i = 0; i < 4; ++i) {
 *     d.Points[i].X = corners[i][0];
 *     d.Points[i].Y = corners[i][1];
 *     d.Walls[i].InUse = 1;
 *     d.Walls[i].StartPoint = i;
 *     d.Walls[i].EndPoint = (i + 1) % 4;
 *     d.Walls[i].Material = 0;
 *   }
 *   // A microphone: a short receiver wall that rays pass through untouched.
 *   d.Materials[1] = d.Materials[0];
 *   strcpy(d.Materials[1].Name, "Open");
 *   d.Materials[1].Reflection = 1.0;
 *   for (int b = 0; b < ZM_BAND_COUNT; ++b) d.Materials[1].BandFactors[b] = 1.0;
 *   d.Points[4].X = 4.5, d.Points[4].Y = 1.5;
 *   d.Points[5].X = 4.5, d.Points[5].Y = 2.5;
 *   TWallEntry mic = {.InUse = 1, .StartPoint = 4, .EndPoint = 5, .PassThrough = 1,
 *                     .Receiver = 1, .Material = 1, .Channel = 0, .Gain = 1.0};
 *   d.Walls[4] = mic;
 *   // One loudspeaker sending 20000 rays all around, in emitter group 0.
 *   d.Points[6].X = 1.5, d.Points[6].Y = 2.0;
 *   TEmitterEntry speaker = {.InUse = 1, .Point = 6, .RayCount = 20000,
 *                            .Spread = 6.283185307179586, .Level = 1.0, .Group = 0};
 *   d.Emitters[0] = speaker;
 *
 *   ZM_process(&d, "room.wav", &error, &abortFlag, NULL, NULL, 0);
 *   if (error.Failed) fprintf(stderr, "zm: %.128s\n", error.Message);
 *
 * A design saved by a host (ZM_saveSetup) comes back with ZM_loadSetup;
 * check error.Failed after every call.
 *
 * Conventions. All records are packed and little-endian; doubles are IEEE
 * 754 64-bit. Text fields are char[65]: read up to the first zero byte or
 * all 65 bytes, written zero-filled. A slot of a fixed array is used when
 * its first byte (InUse) is nonzero. Positions are in point units (times
 * CoordinateScale gives metres), angles in radians counter-clockwise from
 * the x axis.
 *
 * File names. A name is a path of the operating system; a relative one is
 * taken from the process's current directory. A name that
 * begins with "mem:" opens a fresh, empty block of memory instead, which
 * the call discards when it returns: a save or render to it succeeds and
 * keeps nothing, a load from it fails (there is nothing to read).
 * A save or render replaces an existing plain file whole, in one step, and
 * only once the call has succeeded; the new file keeps the old one's owner,
 * group and permissions where the system allows. A device, a FIFO or a file
 * with more than one hard link stays what it is: it is written in place, in
 * one pass, once the content is complete, so a failure during that pass
 * leaves it as far as it got. A FIFO without a reader fails the call at
 * once.
 *
 * Threads. Calls may run at the same time on different threads: each call
 * builds and releases everything it uses, and the one state shared between
 * calls, the generator of the output's dither noise, is locked. A file is
 * opened exclusively, so a call whose file another call holds at that moment
 * fails with an open error rather than sharing it.
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
#define ZM_DESIGN_RECORD_SIZE 33796 /* sizeof(TDesignRecord): a design file's payload */
#define ZM_MATERIAL_ENTRY_SIZE 186  /* sizeof(TMaterialEntry): a material file's payload */
#define ZM_MIN_SAMPLE_RATE 44100    /* a record's lower SampleRate renders at this one */
#define ZM_LEAD_IN_FRAMES 512       /* silent frames before time 0 when LeadIn is set */
/* File names beginning with this open a throw-away block of memory (see
 * "File names" above); "./" in front makes such a name a plain file again. */
#define ZM_MEMORY_PREFIX "mem:"

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
  char Name[ZM_NAME_LENGTH];         /* unique among used slots; "** AIR **" is the air */
  double Reflection;                 /* broadband amplitude factor per hit */
  double Scatter;                    /* width of the random reflection deviation, radians */
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

/* The host's progress function for ZM_process, called on the caller's
 * thread before rays 0, 512, 1024, ... of the run, with the rays traced so
 * far, the rays of the whole run and the userData given to ZM_process. The
 * host may set the abort byte from here; the engine reads it right after. */
typedef void(ZM_CALLBACK* TProgressCallback)(int32_t done, int32_t total, void* userData);

/* ZM_process: traces emitter group `group` of `design` and writes the
 * impulse response to `outputFile` as RIFF/WAVE.
 *
 *   design      the room; read only.
 *   outputFile  file to write (see "File names"); an existing file is
 *               replaced only when the whole file has been written.
 *   error       receives the outcome; when null the call does nothing.
 *   abortFlag   one byte that the engine sets to 0 on entry and reads
 *               after each progress call (every 512 rays, also when
 *               `progress` is null) and every 65536 wall hits of a ray;
 *               the host sets it nonzero, from its callback or another
 *               thread, to stop the run.
 *   progress    may be null: then no progress is reported.
 *   userData    handed to `progress` untouched; may be anything.
 *   group       emitter group to render, 0 to 63.
 *
 * Success: the file is written, error->Failed is 0 and error->Message is
 * untouched. Failure (a design the engine refuses, a group outside 0 to 63,
 * a null design, outputFile or abortFlag, a file that cannot be written):
 * Failed is 1, Message says why, and any earlier file at outputFile is left
 * as it was. Abort: nothing is written and the call reports success. */
ZM_API void ZM_CALL ZM_process(const TDesignRecord* design, const char* outputFile,
                               TErrorRecord* error, uint8_t* abortFlag, TProgressCallback progress,
                               void* userData, int32_t group);

/* ZM_loadSetup: reads the design file `fileName` into `design`. Files of
 * the current layout and of five older ones are read; older ones are
 * converted. Every load then repairs three things: a design without a used
 * ZM_AIR_MATERIAL_NAME material gets one, made from AirAttenuation, in its
 * first free material slot (if there is one); an unused group 0 is named
 * ZM_DEFAULT_GROUP_NAME with DefaultMark 1; a DefaultRayCount of 0 becomes
 * 10000.
 *
 * fileName and design must not be null (a null one fails the call); when
 * error is null the call does nothing. Success: the whole record is
 * written and Failed is 0. Failure (no such file, not a design file, a
 * damaged one): Failed is 1, Message says why, and the record is exactly
 * as it was. */
ZM_API void ZM_CALL ZM_loadSetup(const char* fileName, TDesignRecord* design, TErrorRecord* error);

/* ZM_saveSetup: writes `design` to the design file `fileName`, in the
 * current layout, compressed.
 *
 * fileName and design must not be null (a null one fails the call); when
 * error is null the call does nothing. Success: the file holds the design
 * and Failed is 0. Failure: Failed is 1, Message says why, and an existing
 * file of that name is left as it was. */
ZM_API void ZM_CALL ZM_saveSetup(const char* fileName, const TDesignRecord* design,
                                 TErrorRecord* error);

/* ZM_loadMaterial: reads the material file `fileName` into `material`.
 * When the entry holds the air material (its Name is ZM_AIR_MATERIAL_NAME)
 * it keeps that name, so that loading into the air's slot cannot lose it.
 *
 * fileName and material must not be null (a null one fails the call);
 * when error is null the call does nothing. Success: the whole entry is
 * written and Failed is 0. Failure: Failed is 1, Message says why, and the
 * entry is exactly as it was. */
ZM_API void ZM_CALL ZM_loadMaterial(const char* fileName, TMaterialEntry* material,
                                    TErrorRecord* error);

/* ZM_saveMaterial: writes `material` to the material file `fileName`.
 *
 * fileName and material must not be null (a null one fails the call);
 * when error is null the call does nothing. Success: the file holds the
 * entry and Failed is 0. Failure: Failed is 1, Message says why, and an
 * existing file of that name is left as it was. */
ZM_API void ZM_CALL ZM_saveMaterial(const char* fileName, const TMaterialEntry* material,
                                    TErrorRecord* error);

/* ZM_getVersion: the interface version, ZM_VERSION (400). Cannot fail. */
ZM_API int32_t ZM_CALL ZM_getVersion(void);

/* The layout is part of the interface: every size and offset is fixed. A
 * compiler that packs the records differently fails here, at build time. */
#define ZM_ASSERT_SIZE(type, size) ZM_STATIC_ASSERT(sizeof(type) == (size), #type " size")
#define ZM_ASSERT_AT(type, field, offset) \
  ZM_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " offset")
/* clang-format off */
ZM_STATIC_ASSERT(sizeof(double) == 8, "double must be 64-bit");
ZM_ASSERT_SIZE(TEmitterEntry, 166);
ZM_ASSERT_AT(TEmitterEntry, Point, 1);        ZM_ASSERT_AT(TEmitterEntry, Direction, 5);
ZM_ASSERT_AT(TEmitterEntry, RayCount, 13);    ZM_ASSERT_AT(TEmitterEntry, Spread, 17);
ZM_ASSERT_AT(TEmitterEntry, RandomDirections, 25);
ZM_ASSERT_AT(TEmitterEntry, Level, 26);       ZM_ASSERT_AT(TEmitterEntry, Group, 34);
ZM_ASSERT_AT(TEmitterEntry, UseDefaultRayCount, 38);
ZM_ASSERT_AT(TEmitterEntry, Reserved, 39);
ZM_ASSERT_SIZE(TWallEntry, 47);
ZM_ASSERT_AT(TWallEntry, StartPoint, 1);      ZM_ASSERT_AT(TWallEntry, EndPoint, 5);
ZM_ASSERT_AT(TWallEntry, PassThrough, 9);     ZM_ASSERT_AT(TWallEntry, Receiver, 10);
ZM_ASSERT_AT(TWallEntry, Material, 11);       ZM_ASSERT_AT(TWallEntry, Channel, 15);
ZM_ASSERT_AT(TWallEntry, Gain, 19);           ZM_ASSERT_AT(TWallEntry, Pattern, 27);
ZM_ASSERT_AT(TWallEntry, Reserved, 31);
ZM_ASSERT_SIZE(TPointEntry, 21);
ZM_ASSERT_AT(TPointEntry, X, 5);              ZM_ASSERT_AT(TPointEntry, Y, 13);
ZM_ASSERT_SIZE(TMaterialEntry, ZM_MATERIAL_ENTRY_SIZE);
ZM_ASSERT_AT(TMaterialEntry, Name, 1);        ZM_ASSERT_AT(TMaterialEntry, Reflection, 66);
ZM_ASSERT_AT(TMaterialEntry, Scatter, 74);    ZM_ASSERT_AT(TMaterialEntry, BandFactors, 82);
ZM_ASSERT_AT(TMaterialEntry, Reserved, 146);
ZM_ASSERT_SIZE(TGroupEntry, 198);
ZM_ASSERT_AT(TGroupEntry, HostData, 1);       ZM_ASSERT_AT(TGroupEntry, Name, 5);
ZM_ASSERT_AT(TGroupEntry, DefaultMark, 70);   ZM_ASSERT_AT(TGroupEntry, Reserved, 74);
ZM_ASSERT_SIZE(TDesignRecord, ZM_DESIGN_RECORD_SIZE);
ZM_ASSERT_AT(TDesignRecord, Comment, 65);     ZM_ASSERT_AT(TDesignRecord, ImpulseLength, 130);
ZM_ASSERT_AT(TDesignRecord, MinAmplitude, 138); ZM_ASSERT_AT(TDesignRecord, SampleRate, 146);
ZM_ASSERT_AT(TDesignRecord, BitsPerSample, 150); ZM_ASSERT_AT(TDesignRecord, WindowType, 154);
ZM_ASSERT_AT(TDesignRecord, FilterLength, 158); ZM_ASSERT_AT(TDesignRecord, AirAttenuation, 162);
ZM_ASSERT_AT(TDesignRecord, CoordinateScale, 170); ZM_ASSERT_AT(TDesignRecord, RandomSeed, 178);
ZM_ASSERT_AT(TDesignRecord, SubArrivals, 182); ZM_ASSERT_AT(TDesignRecord, Balance, 186);
ZM_ASSERT_AT(TDesignRecord, StereoWidth, 194); ZM_ASSERT_AT(TDesignRecord, TrimToDirect, 202);
ZM_ASSERT_AT(TDesignRecord, DirectSoundLevel, 206); ZM_ASSERT_AT(TDesignRecord, LeadIn, 210);
ZM_ASSERT_AT(TDesignRecord, GainMode, 212);   ZM_ASSERT_AT(TDesignRecord, FixedGainDb, 214);
ZM_ASSERT_AT(TDesignRecord, DefaultRayCount, 222); ZM_ASSERT_AT(TDesignRecord, Reserved1, 226);
ZM_ASSERT_AT(TDesignRecord, Emitters, 270);   ZM_ASSERT_AT(TDesignRecord, Walls, 1930);
ZM_ASSERT_AT(TDesignRecord, Points, 8980);    ZM_ASSERT_AT(TDesignRecord, Materials, 13180);
ZM_ASSERT_AT(TDesignRecord, HostBlock, 16900); ZM_ASSERT_AT(TDesignRecord, Groups, 20996);
ZM_ASSERT_AT(TDesignRecord, Reserved2, 33668);
ZM_ASSERT_SIZE(TErrorRecord, 129);
ZM_ASSERT_AT(TErrorRecord, Message, 1);
/* clang-format on */
#undef ZM_ASSERT_SIZE
#undef ZM_ASSERT_AT

#ifdef __cplusplus
}
#endif

#endif /* ZM_ZM_H */
