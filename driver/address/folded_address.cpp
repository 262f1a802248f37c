#include "folded_address.h"

#include "upcase_char.h"

namespace roderavo {

FoldedAddress FoldAddress(const char* address) {
    FoldedAddress folded;
    if (address == nullptr) return folded;
    while (folded.length < kFoldedAddressCapacity && address[folded.length] != '\0') {
        folded.text[folded.length] = UpcaseChar(address[folded.length]);
        ++folded.length;
    }
    return folded;
}

}  // namespace roderavo
