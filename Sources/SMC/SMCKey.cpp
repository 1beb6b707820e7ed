#include "SMC/SMCKey.hpp"

#include <cassert>
#include <cstdlib>

namespace quorvane {

const SMCKey SMCKey::fanTestMode = SMCKey::fromString("Ftst");

SMCKey SMCKey::fan(int index, std::string_view suffix) {
    // Compared unsigned so a negative index is out of range too.
    if (static_cast<unsigned>(index) > 9 || suffix.size() != 2) {
        assert(false && "fan key index must be 0...9 with a two-character suffix");
        std::abort();
    }
    const char text[4] = {'F', static_cast<char>('0' + index), suffix[0], suffix[1]};
    return fromString(std::string_view(text, 4));
}

} // namespace quorvane
