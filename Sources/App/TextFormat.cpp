#include "App/TextFormat.hpp"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <locale.h>
#include <vector>

namespace quorvane {

namespace {

// Formats on this thread under the "C" locale: the desktop toolkit adopts the user's locale at
// start, and a decimal comma must not reach titles, notifications, logs or files.
class CNumericLocale {
public:
    CNumericLocale() : previous_(::uselocale(c())) {}
    ~CNumericLocale() { ::uselocale(previous_); }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    static locale_t c() {
        static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return locale;
    }
    locale_t previous_;
};

} // namespace

std::string formatted(const char* format, ...) {
    const CNumericLocale cLocale;
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        va_end(arguments);
        return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    va_end(arguments);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

} // namespace quorvane
