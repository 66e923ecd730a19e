#include "bench_common.hpp"

#include <sstream>

namespace VarnelBench {

std::string Checksum::str() const {
    std::ostringstream out;
    out << "entries=" << entries << " attributes=" << attributes << " values=" << values << " bytes=" << bytes
        << " byteSum=" << byteSum << " hash=" << std::hex << hash;
    return out.str();
}

std::string modifyText(const std::string& token, std::uint64_t generation, std::size_t i) {
    // About the 100 bytes of the generated descriptions.
    std::string text = "Description rewritten by benchmark " + token + ", run " + std::to_string(generation) +
                       ", entry " + std::to_string(i) + ": ";
    while (text.size() < 100) text += "desk ";
    text.resize(100);
    return text;
}

}  // namespace VarnelBench
