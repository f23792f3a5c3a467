#include "aviutl2/host_log.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace lowpass::auf2 {

namespace {

std::atomic<aviutl2::LOG_HANDLE*> logger{nullptr};

// When each kind last reached the log, in milliseconds of the steady clock.
constexpr std::int64_t kNever = INT64_MIN / 2;
std::atomic<std::int64_t> lastWarned[kFailureKinds] = {kNever, kNever, kNever, kNever};

constexpr std::int64_t kQuietMilliseconds = 1000;

// Appends ASCII text or a number to a UTF-16 message.
struct Message {
    aviutl2::Text16 text[256];
    int length = 0;
    void Add(const aviutl2::Text16* s) {
        for (; *s != 0 && length < 255; ++s) text[length++] = *s;
    }
    void Add(const char* s) {
        for (; *s != 0 && length < 255; ++s)
            text[length++] = static_cast<aviutl2::Text16>(static_cast<unsigned char>(*s));
    }
    void Add(int v) {
        char digits[16];
        int n = 0;
        long long u = v;
        if (u < 0) {
            Add("-");
            u = -u;
        }
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        while (n > 0 && length < 255) text[length++] = static_cast<aviutl2::Text16>(digits[--n]);
    }
};

}  // namespace

void SetLogger(aviutl2::LOG_HANDLE* handle) { logger.store(handle); }

void WarnFailure(Failure kind, const char* what, int w, int h) {
    aviutl2::LOG_HANDLE* handle = logger.load();
    if (handle == nullptr || handle->warn == nullptr) return;
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    std::atomic<std::int64_t>& last = lastWarned[static_cast<int>(kind)];
    std::int64_t before = last.load();
    do {
        if (now - before < kQuietMilliseconds) return;  // said less than a second ago
    } while (!last.compare_exchange_weak(before, now));
    Message message;
    message.Add(u"低域通過フィルタ: ");
    message.Add(what);
    message.Add(" (");
    message.Add(w);
    message.Add(" x ");
    message.Add(h);
    message.Add("); the image is left as it was");
    message.text[message.length] = 0;
    handle->warn(handle, message.text);
}

}  // namespace lowpass::auf2
