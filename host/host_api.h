// The host's records and services, as AviUtl lays them out for a filter
// plug-in. Declared here to match the host's binary interface; the
// 32-bit build checks every offset the filter depends on. A native 64-bit
// build uses the same declarations with wider pointers, for tests and tools.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#define LP_CDECL __cdecl
#define LP_STDCALL __stdcall
#else
// Stand-ins for the Windows handle and message types, sized as on Windows.
using BOOL = int;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using HWND = struct HWND__*;
using HINSTANCE = struct HINSTANCE__*;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define LP_CDECL
#define LP_STDCALL
#endif

// One pixel: three signed 16-bit samples, no padding.
struct PIXEL_YC {
    std::int16_t y;
    std::int16_t cb;
    std::int16_t cr;
};

struct FILTER_PROC_INFO {
    int flag;
    PIXEL_YC* ycp_edit;  // current frame; on return names the result
    PIXEL_YC* ycp_temp;  // scratch frame of the same size
    int w;               // picture width
    int h;               // picture height
    int max_w;           // row stride in pixels
    int max_h;           // rows allocated
    int frame;
    int frame_n;
    int org_w;
    int org_h;
    std::int16_t* audiop;
    int audio_n;
    int audio_ch;
    void* pixelp;
    void* editp;
    int yc_size;
    int line_size;
    int reserve[8];
};

struct FILTER;
struct EXFUNC;

using FilterProcFunc = BOOL(LP_CDECL*)(FILTER* fp, FILTER_PROC_INFO* fpip);
using FilterInitFunc = BOOL(LP_CDECL*)(FILTER* fp);
using FilterUpdateFunc = BOOL(LP_CDECL*)(FILTER* fp, int status);
using FilterWndProcFunc = BOOL(LP_CDECL*)(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                          void* editp, FILTER* fp);
using FilterSaveStartFunc = BOOL(LP_CDECL*)(FILTER* fp, int s, int e, void* editp);
using FilterSaveEndFunc = BOOL(LP_CDECL*)(FILTER* fp, void* editp);
using FilterIsSaveFrameFunc = BOOL(LP_CDECL*)(FILTER* fp, void* editp, int saveno, int frame,
                                              int fps, int edit_flag, int inter);
using FilterProjectLoadFunc = BOOL(LP_CDECL*)(FILTER* fp, void* editp, void* data, int size);
using FilterProjectSaveFunc = BOOL(LP_CDECL*)(FILTER* fp, void* editp, void* data, int* size);
using FilterModifyTitleFunc = BOOL(LP_CDECL*)(FILTER* fp, void* editp, int frame, char* title,
                                              int max_title);

// The descriptor a plug-in returns and the record every callback receives
// share one layout.
struct FILTER {
    int flag;
    int x;
    int y;
    char* name;
    int track_n;
    char** track_name;
    int* track_default;
    int* track_s;
    int* track_e;
    int check_n;
    char** check_name;
    int* check_default;
    FilterProcFunc func_proc;
    FilterInitFunc func_init;
    FilterInitFunc func_exit;
    FilterUpdateFunc func_update;
    FilterWndProcFunc func_WndProc;
    int* track;  // host-owned slider values: X, Y, taps
    int* check;  // host-owned check-box values: SIMD, rect, Hanning, Hamming, Blackman
    void* ex_data_ptr;
    int ex_data_size;
    char* information;
    FilterSaveStartFunc func_save_start;
    FilterSaveEndFunc func_save_end;
    EXFUNC* exfunc;
    HWND hwnd;
    HINSTANCE dll_hinst;
    void* ex_data_def;
    FilterIsSaveFrameFunc func_is_saveframe;
    FilterProjectLoadFunc func_project_load;
    FilterProjectSaveFunc func_project_save;
    FilterModifyTitleFunc func_modify_title;
    char* dll_path;
    int reserve[2];
};

using FILTER_DLL = FILTER;

// Flag bit that makes the host show the information text.
constexpr int FILTER_FLAG_EX_INFORMATION = 0x00080000;

using ExFuncFilterFunc = BOOL(LP_CDECL*)(FILTER* fp);
using ExFuncThreadBody = void(LP_CDECL*)(int thread_id, int thread_num, void* p1, void* p2);
using ExFuncMultiThreadFunc = BOOL(LP_CDECL*)(ExFuncThreadBody func, void* p1, void* p2);

// The host's service table. Only the services the filter may use are named;
// the others are kept as opaque slots so that the offsets hold.
struct EXFUNC {
    void* unused0_20[21];
    ExFuncFilterFunc filter_window_update;  // entry 21
    void* unused22_24[3];
    ExFuncFilterFunc is_filter_active;  // entry 25
    void* unused26_50[25];
    ExFuncMultiThreadFunc exec_multi_thread_func;  // entry 51
};

// Window messages the filter sees in its settings window.
constexpr UINT kMsgKeyDown = 0x0100;
constexpr UINT kMsgKeyUp = 0x0101;
constexpr UINT kMsgMouseWheel = 0x020A;
constexpr UINT kMsgUser = 0x0400;
constexpr UINT kGwOwner = 4;

static_assert(sizeof(PIXEL_YC) == 6, "PIXEL_YC is three packed int16 samples");
static_assert(offsetof(EXFUNC, filter_window_update) == 21 * sizeof(void*));
static_assert(offsetof(EXFUNC, is_filter_active) == 25 * sizeof(void*));
static_assert(offsetof(EXFUNC, exec_multi_thread_func) == 51 * sizeof(void*));
static_assert(sizeof(EXFUNC) == 52 * sizeof(void*));

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit layout is the host's: every offset must match.
static_assert(sizeof(FILTER_PROC_INFO) == 104);
static_assert(offsetof(FILTER_PROC_INFO, ycp_edit) == 4);
static_assert(offsetof(FILTER_PROC_INFO, ycp_temp) == 8);
static_assert(offsetof(FILTER_PROC_INFO, w) == 12);
static_assert(offsetof(FILTER_PROC_INFO, h) == 16);
static_assert(offsetof(FILTER_PROC_INFO, max_w) == 20);
static_assert(offsetof(FILTER_PROC_INFO, max_h) == 24);
static_assert(offsetof(FILTER_PROC_INFO, frame) == 28);
static_assert(offsetof(FILTER_PROC_INFO, org_h) == 40);
static_assert(offsetof(FILTER_PROC_INFO, audiop) == 44);
static_assert(offsetof(FILTER_PROC_INFO, pixelp) == 56);
static_assert(offsetof(FILTER_PROC_INFO, editp) == 60);
static_assert(offsetof(FILTER_PROC_INFO, yc_size) == 64);
static_assert(offsetof(FILTER_PROC_INFO, line_size) == 68);
static_assert(offsetof(FILTER_PROC_INFO, reserve) == 72);

static_assert(sizeof(FILTER) == 140);
static_assert(offsetof(FILTER, x) == 4);
static_assert(offsetof(FILTER, y) == 8);
static_assert(offsetof(FILTER, name) == 12);
static_assert(offsetof(FILTER, track_n) == 16);
static_assert(offsetof(FILTER, track_name) == 20);
static_assert(offsetof(FILTER, track_default) == 24);
static_assert(offsetof(FILTER, track_s) == 28);
static_assert(offsetof(FILTER, track_e) == 32);
static_assert(offsetof(FILTER, check_n) == 36);
static_assert(offsetof(FILTER, check_name) == 40);
static_assert(offsetof(FILTER, check_default) == 44);
static_assert(offsetof(FILTER, func_proc) == 48);
static_assert(offsetof(FILTER, func_init) == 52);
static_assert(offsetof(FILTER, func_exit) == 56);
static_assert(offsetof(FILTER, func_update) == 60);
static_assert(offsetof(FILTER, func_WndProc) == 64);
static_assert(offsetof(FILTER, track) == 68);
static_assert(offsetof(FILTER, check) == 72);
static_assert(offsetof(FILTER, ex_data_ptr) == 76);
static_assert(offsetof(FILTER, ex_data_size) == 80);
static_assert(offsetof(FILTER, information) == 84);
static_assert(offsetof(FILTER, func_save_start) == 88);
static_assert(offsetof(FILTER, func_save_end) == 92);
static_assert(offsetof(FILTER, exfunc) == 96);
static_assert(offsetof(FILTER, hwnd) == 100);
static_assert(offsetof(FILTER, dll_hinst) == 104);
static_assert(offsetof(FILTER, ex_data_def) == 108);
static_assert(offsetof(FILTER, func_is_saveframe) == 112);
static_assert(offsetof(FILTER, func_project_load) == 116);
static_assert(offsetof(FILTER, func_project_save) == 120);
static_assert(offsetof(FILTER, func_modify_title) == 124);
static_assert(offsetof(FILTER, dll_path) == 128);
static_assert(offsetof(FILTER, reserve) == 132);

static_assert(offsetof(EXFUNC, filter_window_update) == 84);
static_assert(offsetof(EXFUNC, is_filter_active) == 100);
static_assert(offsetof(EXFUNC, exec_multi_thread_func) == 204);
#endif
