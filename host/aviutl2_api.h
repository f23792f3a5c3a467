// The records and constants of the AviUtl2 filter plug-in interface (the
// 64-bit editor, .auf2 modules), as a filter uses them. Declared from the
// interface's documented x64 layouts; every offset and size is checked
// below, so that a native Linux build of the same declarations (used for
// tests) keeps the Windows layout.
//
// Texts are UTF-16. The editor's text type is wchar_t, two bytes on
// Windows but four on Linux; the records therefore use Text16 (char16_t),
// which has the Windows wchar_t's size and representation on both. Write
// literals as u"...".
#pragma once

#include <cstddef>
#include <cstdint>

namespace aviutl2 {

using Text16 = char16_t;
static_assert(sizeof(Text16) == 2);
#if defined(_WIN32)
static_assert(sizeof(wchar_t) == sizeof(Text16), "the editor's wchar_t is 2 bytes");
#endif

// DWORD of the Windows interface.
using Dword = std::uint32_t;

// Version numbers: major * 1000000 + minor * 10000 + patch * 100 + build.
constexpr Dword kVersion2_1_0 = 2010000;
// Later editors add to the interface; a plug-in that requires 2.1.0 uses
// none of it (see OBJECT_INFO and FILTER_PROC_VIDEO below).
constexpr Dword kVersion2_1_5 = 2010500;
constexpr Dword kVersion2_1_10 = 2011000;

// --- the table the plug-in exports ------------------------------------------------

// FILTER_PLUGIN_TABLE flags.
constexpr int kFilterFlagVideo = 1;
constexpr int kFilterFlagAudio = 2;
constexpr int kFilterFlagInput = 4;     // a media object
constexpr int kFilterFlagFilter = 8;    // also usable as a filter object
constexpr int kFilterFlagUserdata = 16;  // func_create / func_destroy are called (from 2.1.2)
constexpr int kFilterFlagHideMenu = 32;  // from 2.1.10

struct FILTER_PROC_VIDEO;
struct FILTER_PROC_AUDIO;

struct FILTER_PLUGIN_TABLE {
    int flag;
    const Text16* name;         // the effect's name: also the key of saved projects
    const Text16* label;        // menu category; null for the default one
    const Text16* information;
    void** items;               // null-terminated array of pointers to item records
    bool (*func_proc_video)(FILTER_PROC_VIDEO* video);
    bool (*func_proc_audio)(FILTER_PROC_AUDIO* audio);
    void* (*func_create)(std::int64_t effect_id);
    void (*func_destroy)(std::int64_t effect_id, void* userdata);
};

// --- items: every record starts with its type and its name -------------------------

// Type strings.
inline constexpr const Text16* kItemTypeTrack = u"track2";
inline constexpr const Text16* kItemTypeCheck = u"check";
inline constexpr const Text16* kItemTypeSelect = u"select";
inline constexpr const Text16* kItemTypeGroup = u"group";
inline constexpr const Text16* kItemTypeSeparator = u"separator";

// A track bar. The host writes the current value into `value` before every
// call; an animated value need not be integral, even with step 1.
struct FILTER_ITEM_TRACK {
    const Text16* type;  // u"track2"
    const Text16* name;
    double value;
    double min;
    double max;
    double step;
    const Text16* zero_display;
    double slider_ratio;
};

struct FILTER_ITEM_CHECK {
    const Text16* type;  // u"check"
    const Text16* name;
    bool value;
};

// One entry of a select item's list; the list ends with a null name.
struct FILTER_ITEM_SELECT_ITEM {
    const Text16* name;
    int value;
};

struct FILTER_ITEM_SELECT {
    const Text16* type;  // u"select"
    const Text16* name;
    int value;
    const FILTER_ITEM_SELECT_ITEM* list;
};

struct FILTER_ITEM_GROUP {
    const Text16* type;  // u"group"; an empty name closes the group
    const Text16* name;
    bool default_visible;
};

struct FILTER_ITEM_SEPARATOR {
    const Text16* type;  // u"separator"
    const Text16* name;
};

// --- the records of one call ------------------------------------------------------

struct SCENE_INFO {
    int width;
    int height;
    int rate;
    int scale;
    int sample_rate;
};

// flag of OBJECT_INFO.
constexpr int kObjectFlagFilterObject = 1;

struct OBJECT_INFO {
    std::int64_t id;
    int frame;
    int frame_total;
    double time;
    double time_total;
    int width;   // the object's current image size
    int height;
    std::int64_t sample_index;
    std::int64_t sample_total;
    int sample_num;
    int channel_num;
    std::int64_t effect_id;
    int flag;    // kObjectFlagFilterObject when running as a filter object
    int layer;
    int index;
    int num;
    int frame_s;
    int frame_e;
    int effect_layer;
    // From 2.1.5 the editor also fills `int origin_frame` at offset 100, in
    // what is padding for 2.1.0 (the size stays 104). Not declared: an
    // older editor leaves those bytes undefined.
};

// Pixel formats of the image-resource calls.
constexpr int kImageFormatHf64 = 10;  // 16-bit float RGBA, premultiplied (the internal format)
constexpr int kImageFormatPa64 = 11;  // 16-bit unsigned normalised RGBA, premultiplied alpha
constexpr int kImageFormatYc48 = 13;  // written only
constexpr int kImageFormatRgba8 = 28;
constexpr int kImageFormatBgra = 87;  // written only
constexpr int kImageFormatBgr = 88;   // written only
constexpr int kImageFormatYuy2 = 107; // written only

// The current object's image as a resource name (null means the same).
inline constexpr const Text16* kObjectResource = u"object";

// One HF64 pixel: IEEE half floats, premultiplied alpha.
struct PIXEL_HF64 {
    std::uint16_t r;
    std::uint16_t g;
    std::uint16_t b;
    std::uint16_t a;
};
constexpr std::uint16_t kHalfOne = 0x3C00;  // 1.0 as a half

// The record of one video call: 38 pointer-sized slots. The filter uses
// scene, object and the three image-resource calls; the other services are
// declared as untyped slots of the right size, in their order.
using AnySlot = void*;

struct FILTER_PROC_VIDEO {
    const SCENE_INFO* scene;                        // 0
    const OBJECT_INFO* object;                      // 1
    AnySlot get_image_data;                         // 2
    AnySlot set_image_data;                         // 3
    AnySlot get_image_texture2d;                    // 4
    AnySlot get_framebuffer_texture2d;              // 5
    AnySlot edit;                                   // 6
    AnySlot param;                                  // 7
    AnySlot get_output_image_param;                 // 8
    AnySlot get_image_object;                       // 9
    AnySlot draw_image;                             // 10
    AnySlot draw_poly;                              // 11
    AnySlot set_default_anchor;                     // 12
    AnySlot set_blend_mode;                         // 13
    AnySlot set_material_shine;                     // 14
    AnySlot set_sampler_mode;                       // 15
    AnySlot set_culling_state;                      // 16
    AnySlot set_billboard_mode;                     // 17
    AnySlot create_image_resource;                  // 18
    AnySlot get_image_resource_texture2d;           // 19
    AnySlot copy_image_resource;                    // 20
    AnySlot clear_image_resource;                   // 21
    AnySlot draw_image_to_resource;                 // 22
    AnySlot draw_poly_to_resource;                  // 23
    AnySlot exec_pixelshader_file;                  // 24
    AnySlot exec_computeshader_file;                // 25
    AnySlot get_blend_state;                        // 26
    AnySlot get_sampler_state;                      // 27
    AnySlot exec_pixelshader_data;                  // 28
    AnySlot exec_computeshader_data;                // 29
    // 30: the size of an image resource; false when there is none.
    bool (*get_image_resource_size)(const Text16* resource, int* w, int* h);
    // 31, 32: read or write a whole image; `pitch` is the bytes per row of
    // `buffer`. The size must equal the image's, or the call returns false.
    bool (*get_image_resource_data)(const Text16* resource, void* buffer, int w, int h, int pitch, int format);
    bool (*set_image_resource_data)(const Text16* resource, const void* buffer, int w, int h, int pitch,
                                    int format);
    AnySlot deprecated_font;                        // 33
    AnySlot set_filter_item_data_size;              // 34
    void* userdata;                                 // 35
    AnySlot release_image_resource;                 // 36
    AnySlot exec_effect;                            // 37
    // From 2.1.10 the record has three more slots (38 set_blend_mode_force,
    // 39 get_group_control_object, 40 get_group_matrix; 328 bytes). A
    // plug-in that requires 2.1.0 touches only slots 0 .. 37.
};

constexpr int kFilterProcVideoSlots = 38;

// --- the logger (optional export InitializeLogger) -------------------------------

// Five entries, each called with the handle itself and a message (cut at
// 1024 characters by the editor).
struct LOG_HANDLE {
    void (*log)(LOG_HANDLE* handle, const Text16* message);  // the plug-in's own log
    void (*info)(LOG_HANDLE* handle, const Text16* message);
    void (*warn)(LOG_HANDLE* handle, const Text16* message);
    void (*error)(LOG_HANDLE* handle, const Text16* message);
    void (*verbose)(LOG_HANDLE* handle, const Text16* message);
};

// Exported entry points, undecorated.
using GetFilterPluginTableFunc = FILTER_PLUGIN_TABLE* (*)();
using RequiredVersionFunc = Dword (*)();
using InitializePluginFunc = bool (*)(Dword version);
using UninitializePluginFunc = void (*)();
// Called before InitializePlugin; the handle stays valid.
using InitializeLoggerFunc = void (*)(LOG_HANDLE* logger);

// --- the x64 layouts --------------------------------------------------------------
static_assert(sizeof(void*) == 8, "the AviUtl2 interface is 64-bit only");
static_assert(sizeof(bool) == 1 && sizeof(int) == 4 && sizeof(double) == 8);

static_assert(offsetof(FILTER_PLUGIN_TABLE, flag) == 0);
static_assert(offsetof(FILTER_PLUGIN_TABLE, name) == 8);
static_assert(offsetof(FILTER_PLUGIN_TABLE, label) == 16);
static_assert(offsetof(FILTER_PLUGIN_TABLE, information) == 24);
static_assert(offsetof(FILTER_PLUGIN_TABLE, items) == 32);
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_proc_video) == 40);
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_proc_audio) == 48);
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_create) == 56);
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_destroy) == 64);
static_assert(sizeof(FILTER_PLUGIN_TABLE) == 72);

static_assert(offsetof(FILTER_ITEM_TRACK, type) == 0);
static_assert(offsetof(FILTER_ITEM_TRACK, name) == 8);
static_assert(offsetof(FILTER_ITEM_TRACK, value) == 16);
static_assert(offsetof(FILTER_ITEM_TRACK, min) == 24);
static_assert(offsetof(FILTER_ITEM_TRACK, max) == 32);
static_assert(offsetof(FILTER_ITEM_TRACK, step) == 40);
static_assert(offsetof(FILTER_ITEM_TRACK, zero_display) == 48);
static_assert(offsetof(FILTER_ITEM_TRACK, slider_ratio) == 56);
static_assert(sizeof(FILTER_ITEM_TRACK) == 64);

static_assert(offsetof(FILTER_ITEM_CHECK, type) == 0);
static_assert(offsetof(FILTER_ITEM_CHECK, name) == 8);
static_assert(offsetof(FILTER_ITEM_CHECK, value) == 16);
static_assert(sizeof(FILTER_ITEM_CHECK) == 24);

static_assert(offsetof(FILTER_ITEM_SELECT_ITEM, name) == 0);
static_assert(offsetof(FILTER_ITEM_SELECT_ITEM, value) == 8);
static_assert(sizeof(FILTER_ITEM_SELECT_ITEM) == 16);
static_assert(offsetof(FILTER_ITEM_SELECT, type) == 0);
static_assert(offsetof(FILTER_ITEM_SELECT, name) == 8);
static_assert(offsetof(FILTER_ITEM_SELECT, value) == 16);
static_assert(offsetof(FILTER_ITEM_SELECT, list) == 24);
static_assert(sizeof(FILTER_ITEM_SELECT) == 32);

static_assert(offsetof(FILTER_ITEM_GROUP, default_visible) == 16);
static_assert(sizeof(FILTER_ITEM_GROUP) == 24);
static_assert(sizeof(FILTER_ITEM_SEPARATOR) == 16);

static_assert(sizeof(SCENE_INFO) == 20);
static_assert(offsetof(SCENE_INFO, sample_rate) == 16);

static_assert(offsetof(OBJECT_INFO, id) == 0);
static_assert(offsetof(OBJECT_INFO, frame) == 8);
static_assert(offsetof(OBJECT_INFO, frame_total) == 12);
static_assert(offsetof(OBJECT_INFO, time) == 16);
static_assert(offsetof(OBJECT_INFO, time_total) == 24);
static_assert(offsetof(OBJECT_INFO, width) == 32);
static_assert(offsetof(OBJECT_INFO, height) == 36);
static_assert(offsetof(OBJECT_INFO, sample_index) == 40);
static_assert(offsetof(OBJECT_INFO, sample_total) == 48);
static_assert(offsetof(OBJECT_INFO, sample_num) == 56);
static_assert(offsetof(OBJECT_INFO, channel_num) == 60);
static_assert(offsetof(OBJECT_INFO, effect_id) == 64);
static_assert(offsetof(OBJECT_INFO, flag) == 72);
static_assert(offsetof(OBJECT_INFO, layer) == 76);
static_assert(offsetof(OBJECT_INFO, index) == 80);
static_assert(offsetof(OBJECT_INFO, num) == 84);
static_assert(offsetof(OBJECT_INFO, frame_s) == 88);
static_assert(offsetof(OBJECT_INFO, frame_e) == 92);
static_assert(offsetof(OBJECT_INFO, effect_layer) == 96);
static_assert(sizeof(OBJECT_INFO) == 104);

static_assert(sizeof(PIXEL_HF64) == 8);

static_assert(offsetof(LOG_HANDLE, log) == 0);
static_assert(offsetof(LOG_HANDLE, info) == 8);
static_assert(offsetof(LOG_HANDLE, warn) == 16);
static_assert(offsetof(LOG_HANDLE, error) == 24);
static_assert(offsetof(LOG_HANDLE, verbose) == 32);
static_assert(sizeof(LOG_HANDLE) == 40);

static_assert(offsetof(FILTER_PROC_VIDEO, scene) == 0 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, object) == 1 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, get_image_data) == 2 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, set_image_data) == 3 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, get_image_texture2d) == 4 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, edit) == 6 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, draw_image) == 10 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, create_image_resource) == 18 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, exec_pixelshader_data) == 28 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, exec_computeshader_data) == 29 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, get_image_resource_size) == 30 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, get_image_resource_data) == 31 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, set_image_resource_data) == 32 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, deprecated_font) == 33 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, set_filter_item_data_size) == 34 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, userdata) == 35 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, release_image_resource) == 36 * 8);
static_assert(offsetof(FILTER_PROC_VIDEO, exec_effect) == 37 * 8);
static_assert(sizeof(FILTER_PROC_VIDEO) == kFilterProcVideoSlots * 8);

}  // namespace aviutl2
