// Levelled logging: a log file under the host root, optional stderr, and
// in-process capture for tests.
#include "platform/log.h"
#include "platform/log_level.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>

#include "platform/hostroot.h"
#include "platform/misc.h"

namespace Platform::Log {

struct Capture::State {
    mutable std::mutex mutex;
    std::vector<Line> lines;
};

namespace {

std::mutex gMutex;
std::vector<Capture::State*> gCaptures;
bool gStderrLevelSet = false;
Level gStderrLevel = Level::Warning;
// Verbose and trivia lines stay out of the file unless asked for: they sit on hot paths.
Level gFileLevel = [] {
    Level l = Level::Info;
    const char* env = std::getenv("TARNCTL_LOG_FILE_LEVEL");
    if (env)
        ParseLevel(env, &l);
    return l;
}();

bool Enabled(Level wanted, Level threshold) {
    return threshold != Level::None && static_cast<int>(wanted) <= static_cast<int>(threshold);
}

Level StderrLevel() {
    if (!gStderrLevelSet) {
        gStderrLevelSet = true;
        const char* env = std::getenv("TARNCTL_LOG_LEVEL");
        Level parsed;
        if (env && ParseLevel(env, &parsed))
            gStderrLevel = parsed;
    }
    return gStderrLevel;
}

void AppendToFile(Level level, const std::string& text) {
    std::string path;
    try {
        path = Platform::HostPath("/var/log/tarnctl.log");
    } catch (...) {
        return;  // no usable root: logging never fails the caller
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::string dir = path.substr(0, path.rfind('/'));
        // Create /var/log below the root once, then retry.
        for (size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos)
            ::mkdir(dir.substr(0, pos).c_str(), 0755);
        ::mkdir(dir.c_str(), 0755);
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
    }
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    std::string line = std::string(stamp) + " " + LevelName(level) + " [" + std::to_string(getpid()) +
                       "] " + text + "\n";
    // One write per line keeps lines of concurrent processes whole (O_APPEND).
    ssize_t ignored = ::write(fd, line.data(), line.size());
    (void)ignored;
    ::close(fd);
}

void Emit(Level level, const char* fmt, va_list ap) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gCaptures.empty() && !Enabled(level, gFileLevel) && !Enabled(level, StderrLevel()))
            return;
    }
    std::string text = HostCtl::Misc::StrPrintfV(fmt, ap);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();

    std::lock_guard<std::mutex> lock(gMutex);
    for (auto* c : gCaptures) {
        std::lock_guard<std::mutex> l(c->mutex);
        c->lines.push_back({level, text});
    }
    if (Enabled(level, StderrLevel()))
        std::fprintf(stderr, "%s: %s\n", LevelName(level), text.c_str());
    if (Enabled(level, gFileLevel))
        AppendToFile(level, text);
}

}  // namespace

bool WouldLog(Level level) {
    std::lock_guard<std::mutex> lock(gMutex);
    return !gCaptures.empty() || Enabled(level, gFileLevel) || Enabled(level, StderrLevel());
}

const char* LevelName(Level level) {
    switch (level) {
        case Level::Error: return "error";
        case Level::Warning: return "warning";
        case Level::Info: return "info";
        case Level::Verbose: return "verbose";
        case Level::Trivia: return "trivia";
        default: return "none";
    }
}

void SetStderrLevel(Level level) {
    std::lock_guard<std::mutex> lock(gMutex);
    gStderrLevelSet = true;
    gStderrLevel = level;
}

bool ParseLevel(const std::string& text, Level* out) {
    static const std::pair<const char*, Level> names[] = {
        {"error", Level::Error},     {"warning", Level::Warning}, {"warn", Level::Warning},
        {"info", Level::Info},       {"verbose", Level::Verbose}, {"trivia", Level::Trivia},
        {"none", Level::None},       {"off", Level::None}};
    for (const auto& [name, level] : names) {
        if (strcasecmp(text.c_str(), name) == 0) {
            *out = level;
            return true;
        }
    }
    return false;
}

Capture::Capture() : _state(new State) {
    std::lock_guard<std::mutex> lock(gMutex);
    gCaptures.push_back(_state);
}

Capture::~Capture() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        std::erase(gCaptures, _state);
    }
    delete _state;
}

std::vector<Line> Capture::Lines() const {
    std::lock_guard<std::mutex> l(_state->mutex);
    return _state->lines;
}

size_t Capture::Count(const std::string& needle, Level level) const {
    std::lock_guard<std::mutex> l(_state->mutex);
    size_t n = 0;
    for (const auto& line : _state->lines)
        if ((level == Level::None || line.level == level) && line.text.find(needle) != std::string::npos)
            ++n;
    return n;
}

void Capture::Clear() {
    std::lock_guard<std::mutex> l(_state->mutex);
    _state->lines.clear();
}

}  // namespace Platform::Log

namespace Platform::Log {
static void Emit_(Level level, const char* fmt, va_list ap) { Emit(level, fmt, ap); }
}  // namespace Platform::Log

#define TARN_LOG_FUNCTION(name, level)                      \
    void name(const char* fmt, ...) {                       \
        va_list ap;                                         \
        va_start(ap, fmt);                                  \
        Platform::Log::Emit_(Platform::Log::Level::level, fmt, ap); \
        va_end(ap);                                         \
    }

TARN_LOG_FUNCTION(TarnCtl_LogErrorInt, Error)
TARN_LOG_FUNCTION(TarnCtl_LogWarnInt, Warning)
TARN_LOG_FUNCTION(TarnCtl_LogInfoInt, Info)
TARN_LOG_FUNCTION(TarnCtl_LogVerboseInt, Verbose)
TARN_LOG_FUNCTION(TarnCtl_LogTriviaInt, Trivia)
