// Levelled logging of the host's core management library. Lines go to
// /var/log/tarnctl.log under the host root and, at or above the level chosen by
// TARNCTL_LOG_LEVEL (error|warning|info|verbose|trivia) or SetStderrLevel, to stderr.
// Safe to call from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#define TARN_PRINTF(f, a) __attribute__((format(printf, f, a)))

void TarnCtl_LogErrorInt(const char* fmt, ...) TARN_PRINTF(1, 2);
void TarnCtl_LogWarnInt(const char* fmt, ...) TARN_PRINTF(1, 2);
void TarnCtl_LogInfoInt(const char* fmt, ...) TARN_PRINTF(1, 2);
void TarnCtl_LogVerboseInt(const char* fmt, ...) TARN_PRINTF(1, 2);
void TarnCtl_LogTriviaInt(const char* fmt, ...) TARN_PRINTF(1, 2);

namespace Platform::Log {

enum class Level { Error = 0, Warning = 1, Info = 2, Verbose = 3, Trivia = 4, None = -1 };

const char* LevelName(Level level);
// Lines at this level or more severe also go to stderr; Level::None turns it off.
void SetStderrLevel(Level level);
// Parses "error", "warning", ... (case-insensitive); false when unknown.
bool ParseLevel(const std::string& text, Level* out);

struct Line {
    Level level;
    std::string text;  // as formatted, without the trailing newline
};

// Collects every line logged by any thread while it lives; for tests.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::vector<Line> Lines() const;
    // Number of lines whose text contains `needle` (at `level`, unless None).
    size_t Count(const std::string& needle, Level level = Level::None) const;
    bool Contains(const std::string& needle, Level level = Level::None) const {
        return Count(needle, level) > 0;
    }
    void Clear();

    struct State;

private:
    State* _state;
};

}  // namespace Platform::Log
