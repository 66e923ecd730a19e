#include "library_side.hpp"

#include <cstdint>
#include <stdexcept>

namespace VarnelBench {

using namespace Varnel::Ldap;

LibrarySide::LibrarySide(const Config& config) : m_config(config) {
    m_client.Connect(m_config.host, m_config.port, m_config.bindDn, m_config.password);
}

LibrarySide::~LibrarySide() { m_client.Dispose(); }

RunResult LibrarySide::readAll() {
    RunResult result;
    Checksum& ck = result.checksum;
    const Stopwatch watch;
    const auto entries = m_client.Search(m_config.peopleBase, m_config.filter, Scope::SubTree);
    for (const auto& entry : *entries) {
        ++ck.entries;
        ck.touch(entry->get_DN());
        for (const auto& attribute : *entry->get_Attributes()) {
            ++ck.attributes;
            ck.touch(attribute->get_Name());
            for (const auto& value : *attribute->get_Values()) {
                ++ck.values;
                const ByteArray bytes = value->get_BinaryValue();
                ck.touch(bytes.data(), bytes.size());
            }
        }
    }
    result.timing = watch.stop();
    return result;
}

RunResult LibrarySide::sortByName() {
    RunResult result;
    Checksum& ck = result.checksum;
    const Stopwatch watch;
    const auto entries = m_client.Search(m_config.peopleBase, m_config.filter, Scope::SubTree);
    entries->SortBy("sn");
    entries->SortBy("givenName");
    for (const auto& entry : *entries) {
        ++ck.entries;
        ck.mix(entry->get_DN());
    }
    result.timing = watch.stop();
    return result;
}

RunResult LibrarySide::modify(const std::string& token, std::uint64_t generation) {
    RunResult result;
    Checksum& ck = result.checksum;
    const auto entries =
        m_client.Search(m_config.peopleBase, m_config.modifyFilter, Scope::SubTree, StringList{"description"});
    settle();
    const Stopwatch watch;
    std::size_t i = 0;
    for (const auto& entry : *entries) {
        const auto attribute = entry->get_Attributes()->get_Item(std::string("description"));
        if (!attribute) throw std::runtime_error("an entry without description: " + entry->get_DN());
        const auto values = attribute->get_Values();
        if (values->get_Count() != 1) throw std::runtime_error("description is not one-valued");
        values->get_Item(0)->set_StringValue(modifyText(token, generation, i++));
        ++ck.entries;
        ck.mix(entry->get_DN());
    }
    result.timing = watch.stop();
    return result;
}

std::shared_ptr<EntryCollection> LibrarySide::searchAll(const std::string& base) {
    return m_client.Search(base, m_config.filter, Scope::SubTree);
}

// The handles' addresses tell whether the two walks handed out the same objects in the same order. A walk
// over built entries takes only microseconds, so `walks` walks are timed together and the time is per walk;
// the checksum is that of the first walk, and every walk does the same work.
namespace {

Timing perWalk(Timing t, int walks) {
    t.seconds /= walks;
    t.cpuSeconds /= walks;
    return t;
}

void take(Checksum& ck, const std::shared_ptr<Entry>& entry) {
    ++ck.entries;
    ck.hash = ck.hash * 31 + reinterpret_cast<std::uintptr_t>(entry.get());  // order-sensitive, and cheap
}

void indexWalk(EntryCollection& entries, Checksum& ck) {
    for (std::int32_t i = 0; i < entries.get_Count(); ++i) take(ck, entries.get_Item(i));
}

void enumeratorWalkOnce(EntryCollection& entries, Checksum& ck) {
    const auto enumerator = entries.GetEnumerator();
    while (enumerator->MoveNext()) take(ck, enumerator->get_Current());
}

RunResult timedWalks(EntryCollection& entries, int walks, void (*walk)(EntryCollection&, Checksum&)) {
    RunResult result;
    Checksum again;
    const Stopwatch watch;
    walk(entries, result.checksum);
    for (int w = 1; w < walks; ++w) walk(entries, again);
    result.timing = perWalk(watch.stop(), walks);
    return result;
}

}  // namespace

RunResult LibrarySide::indexLoop(EntryCollection& entries, int walks) { return timedWalks(entries, walks, indexWalk); }

RunResult LibrarySide::enumeratorWalk(EntryCollection& entries, int walks) {
    return timedWalks(entries, walks, enumeratorWalkOnce);
}

}  // namespace VarnelBench
