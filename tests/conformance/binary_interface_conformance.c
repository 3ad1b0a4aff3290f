/* A host written in C from the published interface tables alone. It includes no header of
 * this project: it declares its own operation tables and event record, types every interface
 * identifier anew in registry format, loads the built library with the system's loader (dlopen,
 * or LoadLibrary on Windows) and drives it through raw slots. A slot moved, an identifier
 * mistyped or a record field shifted in the C++ headers would agree with the rest of the C++
 * code and still fail here, as it would fail a real host.
 *
 * The tables below hold the listed operations and nothing else, in the layout a compiler of
 * another vendor gives an interface of pure virtual functions (the COM layout on Windows).
 * An interface with a virtual destructor would break that layout: the Itanium C++ ABI
 * (Linux, and mingw-w64 on Windows) puts two destructor slots in the table and Microsoft's
 * compiler one, so every slot after it would move, and the two compilers would disagree.
 * Driving the library through these tables, and letting it call back through the C host's
 * own table, checks the layout from both sides.
 *
 * Usage: binary_interface_conformance <path of Dynamics.ovm>
 */
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <math.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* ---- Loading ------------------------------------------------------------------------------ */

#ifdef _WIN32
static void* openLibrary(const char* path) { return (void*)LoadLibraryA(path); }
static void* findSymbol(void* library, const char* name) {
    return (void*)GetProcAddress((HMODULE)library, name);
}
static void closeLibrary(void* library) { FreeLibrary((HMODULE)library); }
static const char* loaderError(void) { return "LoadLibrary failed"; }
#else
static void* openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* findSymbol(void* library, const char* name) { return dlsym(library, name); }
static void closeLibrary(void* library) { dlclose(library); }
static const char* loaderError(void) { return dlerror(); }
#endif

/* ---- Reporting ------------------------------------------------------------------------- */

static int checkCount, failureCount;
static const char* subject = "library"; /* what the current checks are about */

static void check(int ok, const char* format, ...) {
    ++checkCount;
    if (ok) return;
    ++failureCount;
    va_list arguments;
    va_start(arguments, format);
    printf("FAIL %s: ", subject);
    vprintf(format, arguments);
    printf("\n");
    va_end(arguments);
}

/* ---- Interface identifiers, as hosts' documentation prints them ------------------------ */

typedef struct {
    uint32_t data1; /* the three leading fields are little-endian in memory */
    uint16_t data2, data3;
    uint8_t data4[8];
} Guid;

enum {
    IID_UNKNOWN,
    IID_FACTORY_A,
    IID_FACTORY_B,
    IID_PLUGIN,
    IID_PLUGIN2,
    IID_LEGACY_INITIALIZATION,
    IID_HOST_SECONDARY,
    IID_HOST,
    IID_COUNT
};
static const struct {
    const char* name;
    const char* text;
} identifierTable[IID_COUNT] = {
    {"IMpUnknown", "{00000000-0000-C000-0000-000000000046}"},
    {"factory identifier 91C3D2EE", "{91C3D2EE-C701-4F35-91A6-094DC7E05976}"},
    {"factory identifier 9A7904B7", "{9A7904B7-7F7F-4D61-B558-C1A6695BB638}"},
    {"IMpPlugin", "{2B0DFC7E-A539-49CD-B72D-32FF9DF0D9E4}"},
    {"IMpPlugin2", "{1E07E3E8-8118-457F-A63C-D4F282A0F519}"},
    {"IMpLegacyInitialization", "{0B471002-5627-4D46-984E-C0DC79D0AD35}"},
    {"secondary host interface", "{87CCD426-71D7-414E-A9A6-5ADCA81C7420}"},
    {"host interface", "{4F1B532F-3C46-4927-A498-614867425BE7}"},
};
static Guid iid[IID_COUNT];

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

/* "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the digits give the 16 bytes most significant
 * first within each of the three leading fields. Returns 0 on any other text. */
static int parseGuid(const char* text, Guid* guid) {
    static const int groupDigits[5] = {8, 4, 4, 4, 12};
    uint8_t bytes[16];
    int count = 0;
    if (strlen(text) != 38 || *text++ != '{') return 0;
    for (int group = 0; group < 5; ++group) {
        if (group > 0 && *text++ != '-') return 0;
        for (int digit = 0; digit < groupDigits[group]; digit += 2, text += 2) {
            const int high = hexDigit(text[0]), low = hexDigit(text[1]);
            if (high < 0 || low < 0) return 0;
            bytes[count++] = (uint8_t)(high * 16 + low);
        }
    }
    if (*text != '}') return 0;
    guid->data1 = (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
    guid->data2 = (uint16_t)(bytes[4] << 8 | bytes[5]);
    guid->data3 = (uint16_t)(bytes[6] << 8 | bytes[7]);
    memcpy(guid->data4, bytes + 8, 8);
    return 1;
}

static int identifierIndex(const Guid* guid) {
    for (int i = 0; i < IID_COUNT; ++i)
        if (memcmp(guid, &iid[i], sizeof(Guid)) == 0) return i;
    return IID_COUNT;
}

/* ---- The event record -------------------------------------------------------------------- */

enum { PIN_VALUE = 100, STREAMING_ON = 101, STREAMING_OFF = 102, ANNOUNCE_OUTPUTS = 104 };

typedef struct EventRecord {
    int32_t position, type, pinId, size;
    uint8_t inlineData[8];
    const void* data;
    const struct EventRecord* next;
} EventRecord;
_Static_assert(sizeof(EventRecord) == 40, "the event record is 40 bytes");
_Static_assert(offsetof(EventRecord, type) == 4 && offsetof(EventRecord, pinId) == 8 &&
                   offsetof(EventRecord, size) == 12 && offsetof(EventRecord, inlineData) == 16 &&
                   offsetof(EventRecord, data) == 24 && offsetof(EventRecord, next) == 32,
               "event record offsets");

static EventRecord event(int32_t position, int32_t type, int32_t pinId) {
    EventRecord record = {position, type, pinId, 0, {0}, NULL, NULL};
    return record;
}

static EventRecord valueEvent(int32_t position, int32_t pinId, float value) {
    EventRecord record = event(position, PIN_VALUE, pinId);
    record.size = sizeof value;
    memcpy(record.inlineData, &value, sizeof value);
    return record;
}

static const EventRecord* linked(EventRecord* records, int count) {
    for (int i = 0; i + 1 < count; ++i) records[i].next = &records[i + 1];
    return records;
}

/* ---- Operation tables, in slot order ----------------------------------------------------- */

typedef int32_t (*QueryInterface)(void* self, const Guid* iid, void** object);
typedef int32_t (*NoArguments)(void* self);
typedef int32_t (*SetHost)(void* self, void* host);
typedef int32_t (*SetBuffer)(void* self, int32_t pinId, float* buffer);
typedef void (*Process)(void* self, int32_t count, const EventRecord* events);
typedef int32_t (*AuxiliaryCall)(void* self, int32_t index, int32_t value, void* pointer);

#define UNKNOWN_SLOTS              \
    QueryInterface queryInterface; \
    NoArguments addRef;            \
    NoArguments release

typedef struct {
    UNKNOWN_SLOTS;
} UnknownTable;
typedef struct {
    UNKNOWN_SLOTS;
    int32_t (*createInstanceWithHost)(void* self, const uint16_t* id, int32_t type, void* host,
                                      void** object);
    int32_t (*getSdkInfo)(void* self, int32_t* version, int32_t length, uint16_t* buffer);
    int32_t (*createInstance)(void* self, const uint16_t* id, int32_t type, void** object);
} FactoryTable;
typedef struct {
    UNKNOWN_SLOTS;
    NoArguments open;
    SetBuffer setBuffer;
    Process process;
    AuxiliaryCall auxiliaryCall;
} PluginTable;
typedef struct {
    UNKNOWN_SLOTS;
    SetHost setHost;
    NoArguments open;
    SetBuffer setBuffer;
    Process process;
    AuxiliaryCall auxiliaryCall;
} Plugin2Table;
typedef struct {
    UNKNOWN_SLOTS;
    SetHost setHost;
} LegacyInitializationTable;
typedef struct {
    SetHost setHost;
} OldSchoolInitialisationTable;

/* An interface pointer points at the pointer to its table. */
#define TABLE(Type, object) (*(const Type* const*)(object))

/* ---- A minimal host ---------------------------------------------------------------------- */

typedef struct {
    int32_t position, pinId, streaming;
} StreamingReport;

typedef struct Host {
    const struct HostTable* table;
    int asked[4], askedCount; /* identifier indices the object asked for, in order */
    int addRefs, releases, blockSizeQueries, sleepRequests;
    float sampleRate;
    StreamingReport reports[8];
    int reportCount;
} Host;

struct HostTable {
    UNKNOWN_SLOTS;
    int32_t (*sendPinValue)(Host* self, int32_t position, int32_t pinId, int32_t size, const void* data);
    int32_t (*reportPinStreaming)(Host* self, int32_t position, int32_t pinId, int32_t streaming);
    int32_t (*requestSleep)(Host* self);
    int32_t (*reserved)(Host* self);
    int32_t (*queryBlockSize)(Host* self, int32_t* samples);
    int32_t (*querySampleRate)(Host* self, float* hertz);
};

static int32_t hostQueryInterface(void* self, const Guid* guid, void** object) {
    Host* host = self;
    const int index = identifierIndex(guid);
    if (host->askedCount < 4) host->asked[host->askedCount++] = index;
    *object = NULL;
    if (index != IID_HOST && index != IID_HOST_SECONDARY) return -2;
    *object = host;
    ++host->addRefs;
    return 0;
}
static int32_t hostAddRef(void* self) { return ++((Host*)self)->addRefs; }
static int32_t hostRelease(void* self) { return ++((Host*)self)->releases; }
static int32_t hostSendPinValue(Host* host, int32_t position, int32_t pinId, int32_t size, const void* data) {
    (void)host, (void)position, (void)pinId, (void)size, (void)data;
    return 0;
}
static int32_t hostReportPinStreaming(Host* host, int32_t position, int32_t pinId, int32_t streaming) {
    if (host->reportCount < 8)
        host->reports[host->reportCount++] = (StreamingReport){position, pinId, streaming};
    return 0;
}
static int32_t hostRequestSleep(Host* host) { return ++host->sleepRequests, 0; }
static int32_t hostReserved(Host* host) { return (void)host, 0; }
static int32_t hostQueryBlockSize(Host* host, int32_t* samples) {
    ++host->blockSizeQueries;
    *samples = 8;
    return 0;
}
static int32_t hostQuerySampleRate(Host* host, float* hertz) {
    *hertz = host->sampleRate;
    return 0;
}
static const struct HostTable hostTable = {
    hostQueryInterface, hostAddRef,   hostRelease,        hostSendPinValue,   hostReportPinStreaming,
    hostRequestSleep,   hostReserved, hostQueryBlockSize, hostQuerySampleRate};

static Host newHost(float sampleRate) {
    Host host;
    memset(&host, 0, sizeof host);
    host.table = &hostTable;
    host.sampleRate = sampleRate;
    return host;
}

/* An object attaches by asking for the secondary interface and then for the host interface. */
static void checkAttached(const Host* host, const char* how) {
    check(
        host->askedCount == 2 && host->asked[0] == IID_HOST_SECONDARY && host->asked[1] == IID_HOST,
        "%s asks the host for %d identifier(s), first %s, then %s", how, host->askedCount,
        host->askedCount > 0 && host->asked[0] < IID_COUNT ? identifierTable[host->asked[0]].name : "another",
        host->askedCount > 1 && host->asked[1] < IID_COUNT ? identifierTable[host->asked[1]].name
                                                           : "another");
}

/* ---- The factory ------------------------------------------------------------------------- */

static void* factory;

static void toUtf16(const char* text, uint16_t* units) {
    while ((*units++ = (uint8_t)*text++) != 0) continue;
}

static void* create(const char* id, int32_t type, int32_t* result) {
    uint16_t units[64];
    toUtf16(id, units);
    void* object = (void*)&units; /* never a valid answer: a result that leaves it is seen */
    *result = TABLE(FactoryTable, factory)->createInstance(factory, units, type, &object);
    return object;
}

/* Which view each identifier gives (NULL: -2 and a null out-parameter), asked through every
 * view that has queryInterface; and a one-bit change of any byte of an answered identifier. */
static void checkAnswers(void* const* views, const char* const* viewNames, int viewCount,
                         void* const expected[IID_COUNT]) {
    for (int v = 0; v < viewCount; ++v)
        for (int i = 0; i < IID_COUNT; ++i) {
            void* answer = (void*)&answer;
            const int32_t result = TABLE(UnknownTable, views[v])->queryInterface(views[v], &iid[i], &answer);
            if (expected[i] != NULL) {
                check(result == 0 && answer == expected[i], "%s asked through %s: result %d, %s",
                      identifierTable[i].name, viewNames[v], result,
                      answer == expected[i] ? "the right view"
                      : answer == NULL      ? "null"
                                            : "not the expected view");
                if (answer != NULL && answer != (void*)&answer) TABLE(UnknownTable, answer)->release(answer);
            } else {
                check(result == -2 && answer == NULL, "%s asked through %s: result %d, out-parameter %s",
                      identifierTable[i].name, viewNames[v], result, answer == NULL ? "null" : "set");
            }
        }
    for (int i = 0; i < IID_COUNT; ++i)
        for (int byte = 0; expected[i] != NULL && byte < 16; ++byte) {
            Guid nearMiss = iid[i];
            ((uint8_t*)&nearMiss)[byte] ^= 1;
            void* answer = (void*)&answer;
            const int32_t result =
                TABLE(UnknownTable, views[0])->queryInterface(views[0], &nearMiss, &answer);
            check(result == -2 && answer == NULL, "%s with byte %d changed: result %d",
                  identifierTable[i].name, byte, result);
        }
}

static void checkFactory(void) {
    subject = "factory";
    void* expected[IID_COUNT] = {
        [IID_UNKNOWN] = factory, [IID_FACTORY_A] = factory, [IID_FACTORY_B] = factory};
    const char* const name = "the factory";
    checkAnswers(&factory, &name, 1, expected);
    const FactoryTable* table = TABLE(FactoryTable, factory);
    check(table->addRef(factory) == 1 && table->release(factory) == 1 && table->release(factory) == 1,
          "addRef and release do not both return 1");

    uint16_t text[40], expectedText[28];
    for (int i = 0; i < 40; ++i) text[i] = 0xCA7E;
    toUtf16("MS Compiler V1934 (Release)", expectedText);
    int32_t version = 0;
    const int32_t result = table->getSdkInfo(factory, &version, 28, text);
    check(result == 0 && version == 30800, "getSdkInfo gives result %d and version %d", result, version);
    check(memcmp(text, expectedText, sizeof expectedText) == 0 && text[28] == 0xCA7E,
          "getSdkInfo does not write exactly \"MS Compiler V1934 (Release)\" and its terminator");
}

/* ---- The modules ------------------------------------------------------------------------- */

enum { BLOCK = 8 };

/* Pins are numbered 0 .. pins - 1: the control input (if any) first, then the audio inputs,
 * and the audio output last. */
typedef struct {
    const char* id;
    int32_t pins;
    int32_t controlPin; /* -1: none */
    float control, sampleRate;
    float input[2][BLOCK]; /* per audio input, in pin order */
    float expected[BLOCK];
    float tolerance; /* relative; 0: bit for bit */
} ModuleCase;

/* clang-format off */
static const ModuleCase modules[] = {
    {"Orin Integrator", 2, -1, 0, 48000, {{1, 2, 0.5f, -4, 0.25f, 0, 8, -0.75f}},
     {1, 3, 3.5f, -0.5f, -0.25f, -0.25f, 7.75f, 7}, 0},
    {"Orin Peak", 3, -1, 0, 48000,
     {{-0.7f, 0.25f, 0.5f, -0.0f, -INFINITY, 3, -2, 0}, {0.5f, -0.5f, -0.5f, 0.0f, 1, -4, 1, -0.0f}},
     {0.7f, 0.5f, 0.5f, 0, INFINITY, 4, 2, 0}, 0},
    {"Orin Hard Knee", 3, 0, 0.5f, 48000, {{2, 0.5f, 0.25f, -3, 1, 4, 8, 0.5f}},
     {0.25f, 1, 1, 1, 0.5f, 0.125f, 0.0625f, 1}, 0},
    {"Orin ms2factor", 2, -1, 0, 48000, {{1, 0.1f, 0, 2, 0.5f, 10, 0.25f, 0.01f}},
     {0.09857119f, 0.08659643f, 0, 0.09928302f, 0.0971628f, 0.09985619f, 0.09440609f, 0.02371374f}, 1e-6f},
    {"Orin factor2ms", 2, -1, 0, 48000, {{0.0985712f, 0.05f, 0.1f, 0, 0.09f, 0.02f, 0.099f, 0.001f}},
     {1.0000106f, 0.02076205f, -INFINITY, 0, 0.1365897f, 0.008941729f, 1.4319094f, 0.003125f}, 1e-6f},
    /* 4 ms at 1 kHz: a window of 4 samples, filled with 1.0 when the time is set. */
    {"Orin Peak Hold", 3, 0, 4, 1000, {{0.5f, 0.9f, 0.8f, 0.9f, 0.9f, 0.9f, 0.95f, 0.9f}},
     {0.5f, 0.5f, 0.5f, 0.5f, 0.8f, 0.8f, 0.9f, 0.9f}, 0},
    /* 5 ms at 1 kHz: moving sums of 2 and 3 samples; an impulse gives 1, 2, 2, 1 sixths. */
    {"Orin SmootherG", 3, 0, 5, 1000, {{1, 0, 0, 0, 0, 0, 0, 0}},
     {1 / 6.0f, 2 / 6.0f, 2 / 6.0f, 1 / 6.0f, 0, 0, 0, 0}, 1e-6f},
};
/* clang-format on */
enum { MODULE_COUNT = sizeof modules / sizeof modules[0] };

static int sameSample(float actual, float expected, float tolerance) {
    return actual == expected || fabsf(actual - expected) <= tolerance * fabsf(expected);
}

/* The object's four views lie in the order of its bases, one table pointer each: IMpPlugin,
 * IMpPlugin2, IoldSchoolInitialisation, IMpLegacyInitialization. IoldSchoolInitialisation has
 * no identifier; this is the only way a host reaches it. */
typedef struct {
    void *plugin, *plugin2, *oldSchool, *legacy;
} Views;

static Views viewsOf(void* plugin2) {
    Views views = {(char*)plugin2 - sizeof(void*), plugin2, (char*)plugin2 + sizeof(void*),
                   (char*)plugin2 + 2 * sizeof(void*)};
    return views;
}

static void checkViews(const Views* views) {
    void* const expected[IID_COUNT] = {[IID_UNKNOWN] = views->plugin,
                                       [IID_PLUGIN] = views->plugin,
                                       [IID_PLUGIN2] = views->plugin2,
                                       [IID_LEGACY_INITIALIZATION] = views->legacy};
    void* const asked[] = {views->plugin, views->plugin2, views->legacy};
    static const char* const names[] = {"IMpPlugin", "IMpPlugin2", "IMpLegacyInitialization"};
    checkAnswers(asked, names, 3, expected);
}

static void checkReferenceCounts(void* object) {
    const UnknownTable* table = TABLE(UnknownTable, object);
    const int32_t up1 = table->addRef(object), up2 = table->addRef(object);
    const int32_t down1 = table->release(object), down2 = table->release(object);
    check(up1 == 2 && up2 == 3 && down1 == 2 && down2 == 1, "addRef twice, release twice gives %d %d %d %d",
          up1, up2, down1, down2);
}

static void checkSetBuffer(const ModuleCase* module, const Views* views) {
    float samples[BLOCK];
    const SetBuffer setBuffers[2] = {TABLE(PluginTable, views->plugin)->setBuffer,
                                     TABLE(Plugin2Table, views->plugin2)->setBuffer};
    void* const through[2] = {views->plugin, views->plugin2};
    for (int v = 0; v < 2; ++v)
        for (int32_t pin = -1; pin <= module->pins; ++pin) {
            const int32_t result = setBuffers[v](through[v], pin, samples);
            check(result == (pin >= 0 && pin < module->pins ? 0 : -1),
                  "setBuffer through view %d on pin %d: %d", v, pin, result);
        }
}

/* Attaches through one of the three entry points. */
static void attach(const Views* views, int entry, Host* host) {
    static const char* const entries[3] = {"IMpPlugin2 setHost", "IoldSchoolInitialisation setHost",
                                           "IMpLegacyInitialization setHost"};
    int32_t result = -99;
    if (entry == 0) result = TABLE(Plugin2Table, views->plugin2)->setHost(views->plugin2, host);
    if (entry == 1)
        result = TABLE(OldSchoolInitialisationTable, views->oldSchool)->setHost(views->oldSchool, host);
    if (entry == 2) result = TABLE(LegacyInitializationTable, views->legacy)->setHost(views->legacy, host);
    check(result == 0, "%s returns %d", entries[entry], result);
    checkAttached(host, entries[entry]);
}

/* Streams every audio input, sets the control value and announces the outputs at position 0,
 * processes one block and compares the output. */
static void checkProcessing(const ModuleCase* module, const Views* views, Host* host) {
    float buffers[3][BLOCK];
    const int32_t output = module->pins - 1;
    EventRecord events[4];
    int count = 0, input = 0;
    for (int32_t pin = 0; pin < output; ++pin) {
        if (pin == module->controlPin) {
            events[count++] = valueEvent(0, pin, module->control);
            continue;
        }
        memcpy(buffers[pin], module->input[input++], sizeof buffers[pin]);
        events[count++] = event(0, STREAMING_ON, pin);
    }
    events[count++] = event(0, ANNOUNCE_OUTPUTS, -1);
    for (int i = 0; i < BLOCK; ++i) buffers[output][i] = NAN;
    const Plugin2Table* table = TABLE(Plugin2Table, views->plugin2);
    for (int32_t pin = 0; pin < module->pins; ++pin) table->setBuffer(views->plugin2, pin, buffers[pin]);
    check(table->open(views->plugin2) == 0 && TABLE(PluginTable, views->plugin)->open(views->plugin) == 0,
          "open does not return 0");
    table->process(views->plugin2, BLOCK, linked(events, count));
    for (int i = 0; i < BLOCK; ++i)
        check(sameSample(buffers[output][i], module->expected[i], module->tolerance),
              "output sample %d is %.9g, not %.9g", i, buffers[output][i], module->expected[i]);
    int announced = 0;
    for (int r = 0; r < host->reportCount; ++r)
        announced |= host->reports[r].position == 0 && host->reports[r].pinId == output &&
                     host->reports[r].streaming == 1;
    check(announced, "the output pin %d is not reported streaming at position 0", output);

    /* IMpPlugin's process runs the same block processing. */
    for (int i = 0; i < BLOCK; ++i) buffers[output][i] = NAN;
    TABLE(PluginTable, views->plugin)->process(views->plugin, BLOCK, NULL);
    for (int i = 0; i < BLOCK; ++i)
        check(!isnan(buffers[output][i]), "IMpPlugin process leaves sample %d unwritten", i);
    check(host->sleepRequests == 0, "a module with a streaming output asks to sleep");
    check(TABLE(PluginTable, views->plugin)->auxiliaryCall(views->plugin, 0, 0, NULL) == 0 &&
              table->auxiliaryCall(views->plugin2, 0, 0, NULL) == 0,
          "auxiliaryCall does not return 0");
}

/* Identifiers are compared exactly, and every module has type 0. */
static void checkNearMisses(const ModuleCase* module) {
    char text[64];
    const size_t length = strlen(module->id);
    for (int miss = 0; miss < 4; ++miss) {
        strcpy(text, module->id);
        if (miss == 0) strcat(text, " ");
        if (miss == 1) text[length - 1] = 0;
        if (miss == 2) text[0] ^= 0x20;
        int32_t result;
        void* object = create(text, miss == 3 ? 1 : 0, &result);
        check(result == -2 && object == NULL, "creating \"%s\" with type %d gives %d", text, miss == 3,
              result);

        uint16_t units[64];
        toUtf16(text, units);
        Host host = newHost(48000);
        object = (void*)&units;
        result =
            TABLE(FactoryTable, factory)->createInstanceWithHost(factory, units, miss == 3, &host, &object);
        check(result == -2 && object == NULL && host.addRefs == 0,
              "createInstanceWithHost of \"%s\" gives %d", text, result);
    }
}

static void checkModule(const ModuleCase* module, int index) {
    subject = module->id;
    int32_t result;
    void* plugin2 = create(module->id, 0, &result);
    check(result == 0 && plugin2 != NULL, "createInstance gives %d", result);
    if (result != 0 || plugin2 == NULL) return;
    const Views views = viewsOf(plugin2);
    checkViews(&views);
    checkReferenceCounts(plugin2);
    checkSetBuffer(module, &views);
    Host host = newHost(module->sampleRate);
    attach(&views, index % 3, &host);
    checkProcessing(module, &views, &host);
    result = TABLE(UnknownTable, plugin2)->release(plugin2);
    check(result == 0 && host.releases == 1, "the last release gives %d and releases the host %d time(s)",
          result, host.releases);

    Host creator = newHost(module->sampleRate);
    uint16_t units[64];
    toUtf16(module->id, units);
    result = TABLE(FactoryTable, factory)->createInstanceWithHost(factory, units, 0, &creator, &plugin2);
    check(result == 0 && plugin2 != NULL, "createInstanceWithHost gives %d", result);
    checkAttached(&creator, "createInstanceWithHost");
    if (plugin2 != NULL) TABLE(UnknownTable, plugin2)->release(plugin2);
    checkNearMisses(module);
}

/* Value events with inline and with pointed-to bytes, at two positions, and a streaming event
 * that a pin-passing module reports at its own position: each field of the record is read
 * where the layout puts it, or the gain comes out wrong. */
static void checkEventRecordFields(void) {
    subject = "event record, driving Orin Hard Knee";
    int32_t result;
    void* plugin2 = create("Orin Hard Knee", 0, &result);
    if (plugin2 == NULL) return;
    const Plugin2Table* table = TABLE(Plugin2Table, plugin2);
    Host host = newHost(48000);
    table->setHost(plugin2, &host);
    float input[BLOCK] = {2, 0.25f, 1, 4, 2, 0.5f, 1, 0.125f}, output[BLOCK];
    table->setBuffer(plugin2, 1, input);
    table->setBuffer(plugin2, 2, output);
    const float pointedTo = 0.25f;
    EventRecord events[4] = {valueEvent(0, 0, 0.5f), event(0, STREAMING_ON, 1),
                             valueEvent(4, 0, 8.0f), /* the inline bytes are a decoy */
                             event(6, STREAMING_OFF, 1)};
    events[2].data = &pointedTo;
    table->process(plugin2, BLOCK, linked(events, 4));
    const float expected[BLOCK] = {0.25f, 1, 0.5f, 0.125f, 0.125f, 0.5f, 0.25f, 1};
    for (int i = 0; i < BLOCK; ++i)
        check(output[i] == expected[i], "output sample %d is %g, not %g", i, output[i], expected[i]);
    const StreamingReport reports[3] = {{0, 2, 1}, {4, 2, 1}, {6, 2, 0}};
    check(host.reportCount == 3 && memcmp(host.reports, reports, sizeof reports) == 0,
          "%d streaming report(s) instead of (0, 2, on) (4, 2, on) (6, 2, off)", host.reportCount);
    check(host.blockSizeQueries == 1, "the static output asks for the block size %d time(s)",
          host.blockSizeQueries);
    table->release(plugin2);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <module library>\n", argv[0]);
        return 2;
    }
    for (int i = 0; i < IID_COUNT; ++i)
        if (!parseGuid(identifierTable[i].text, &iid[i])) {
            fprintf(stderr, "malformed identifier %s\n", identifierTable[i].text);
            return 2;
        }
    void* library = openLibrary(argv[1]);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], loaderError());
        return 1;
    }
    int32_t (*getFactory)(void**) = (int32_t(*)(void**))findSymbol(library, "MP_GetFactory");
    check(getFactory != NULL, "MP_GetFactory is not exported");
    if (getFactory == NULL) return 1;
    void* again = NULL;
    check(getFactory(&factory) == 0 && getFactory(&again) == 0 && factory != NULL && again == factory,
          "MP_GetFactory does not hand out one factory");
    checkFactory();
    for (int m = 0; m < MODULE_COUNT; ++m) checkModule(&modules[m], m);
    checkEventRecordFields();
    closeLibrary(library);
    printf("%d checks, %d failed\n", checkCount, failureCount);
    return failureCount == 0 ? 0 : 1;
}
