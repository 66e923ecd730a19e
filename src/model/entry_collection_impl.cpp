#include "model/entry_collection_impl.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace Varnel::Ldap {

EntryCollectionImpl::EntryCollectionImpl(SearchTree& tree) : ModelObject(tree) {}

// libldap's traversal visits exactly the messages its count counts. Walking the chain is a chase from one
// message to the next through memory that is no longer in any cache, the main cost of both the count and
// the build, so it is paid once: a count keeps the messages it found for the build, and a build that comes
// first gives the count.
void EntryCollectionImpl::findEntryMessages() {
    if (m_count) return;
    LDAP* handle = ld();
    LDAPMessage* chain = tree().searchResult().GetMessageW();
    LdapApi& lib = api();
    std::vector<LDAPMessage*> messages;
    for (LDAPMessage* message = lib.ldap_first_entry(handle, chain); message != nullptr;
         message = lib.ldap_next_entry(handle, message)) {
        messages.push_back(message);
    }
    m_messages = std::move(messages);
    m_count = static_cast<std::int32_t>(m_messages.size());
}

void EntryCollectionImpl::createEntryArray() {
    if (m_createdArray) return;
    LDAP* handle = ld();  // the entries read their DNs through the connection: refused without one
    LdapApi& lib = api();
    SearchTree::Transaction transaction(tree());
    std::vector<EntryImpl*> entries;
    if (m_count) {
        // The messages are known: their DNs are read a few at a time, with the next messages asked for
        // ahead, so that the loads from memory overlap instead of following one another.
        constexpr std::size_t c_batch = 16;
        const std::size_t total = m_messages.size();
        entries.reserve(total);
        std::string_view dns[c_batch];
        for (std::size_t start = 0; start < total; start += c_batch) {
            const std::size_t n = std::min(c_batch, total - start);
            for (std::size_t k = 0; k < n; ++k) {
                if (start + k + c_batch < total) __builtin_prefetch(m_messages[start + k + c_batch]);
                dns[k] = EntryImpl::readDn(lib, handle, m_messages[start + k]);
            }
            for (std::size_t k = 0; k < n; ++k) {
                entries.push_back(tree().make<EntryImpl>(m_messages[start + k], this, dns[k]));
            }
        }
    } else {
        LDAPMessage* chain = tree().searchResult().GetMessageW();
        for (LDAPMessage* message = lib.ldap_first_entry(handle, chain); message != nullptr;
             message = lib.ldap_next_entry(handle, message)) {
            entries.push_back(tree().make<EntryImpl>(message, this, EntryImpl::readDn(lib, handle, message)));
        }
    }
    transaction.commit();
    m_entries.items = std::move(entries);
    m_count = static_cast<std::int32_t>(m_entries.items.size());
    std::vector<LDAPMessage*>().swap(m_messages);  // each entry holds its own message now
    m_createdArray = true;
}

std::int32_t EntryCollectionImpl::get_Count() {
    checkDisposed();
    findEntryMessages();
    return *m_count;
}

std::shared_ptr<Entry> EntryCollectionImpl::get_Item(std::int32_t index) {
    checkDisposed();
    createEntryArray();
    if (index < 0 || static_cast<std::size_t>(index) >= m_entries.items.size()) {
        raise<LdapException>("IDS_EX_OUT_OF_BOUNDS");
    }
    sort();
    return handle<Entry>(m_entries.items[static_cast<std::size_t>(index)]);
}

std::unique_ptr<Enumerator<Entry>> EntryCollectionImpl::GetEnumerator() {
    checkDisposed();
    createEntryArray();
    sort();
    return std::make_unique<LiveEnumerator<Entry, EntryImpl>>(tree().self(), m_entries);
}

void EntryCollectionImpl::CopyTo(std::span<std::shared_ptr<Entry>> array, std::int32_t index) {
    if (index >= static_cast<std::int64_t>(array.size())) throw ArgumentOutOfRangeException();
    if (m_disposed) raise<ObjectDisposedException>("IDS_EX_CANNOT_PERFORM_ON_DISPOSED_OBJECT");
    createEntryArray();
    checkCopyTo(array.size(), index, m_entries.items.size());
    for (std::size_t i = 0; i < m_entries.items.size(); ++i) {
        array[static_cast<std::size_t>(index) + i] = handle<Entry>(m_entries.items[i]);
    }
}

void EntryCollectionImpl::OnItemDeleted(ILdapCollectionItem& item) {
    checkDisposed();
    auto& items = m_entries.items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](EntryImpl* e) { return static_cast<ILdapCollectionItem*>(e) == &item; });
    if (it == items.end()) return;
    items.erase(it);
    m_entries.changed();
}

void EntryCollectionImpl::SortBy(const std::optional<std::string>& attributeName, SortDirection sortDirection) {
    checkDisposed();
    m_entryComparer.AddSort(attributeName, sortDirection);
    m_sorted = false;
}

void EntryCollectionImpl::SortBy(const std::optional<std::string>& attributeName) {
    SortBy(attributeName, SortDirection::Ascending);
}

void EntryCollectionImpl::ClearSort() {
    checkDisposed();
    m_entryComparer.ClearSort();
    m_sorted = true;
}

namespace {

// The collation of the current user locale: culture-sensitive, case-sensitive, lower case first.
std::unique_ptr<icu::Collator> makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale::getDefault(), status));
    if (U_FAILURE(status) || !collator) {
        throw InvalidOperationException(std::string("No collator for the current locale: ") + u_errorName(status));
    }
    collator->setStrength(icu::Collator::TERTIARY);
    collator->setAttribute(UCOL_CASE_FIRST, UCOL_LOWER_FIRST, status);
    return collator;
}

// One entry's sort key for one attribute: absent ranks before every present value.
struct KeyValue {
    bool present = false;
    std::string collationKey;
};

std::string collationKey(const icu::Collator& collator, const std::string& text) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    std::string key(static_cast<std::size_t>(u.length()) * 4 + 16, '\0');
    auto* out = reinterpret_cast<uint8_t*>(key.data());
    int32_t needed = collator.getSortKey(u, out, static_cast<int32_t>(key.size()));
    if (needed > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(needed));
        needed = collator.getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), needed);
    }
    key.resize(needed > 0 ? static_cast<std::size_t>(needed) - 1 : 0);  // drop the terminating zero
    return key;
}

}  // namespace

// Each application reads every entry's key values once and turns them into ICU sort keys, then orders the
// list by comparing keys: the same order as comparing the values afresh at every step, without n log n value
// reads. All keys are read before the list is touched, so a failure (a disposed entry) leaves the list as it
// was and the ordering pending.
void EntryCollectionImpl::sort() {
    if (m_sorted) return;
    auto& items = m_entries.items;
    const auto& keys = m_entryComparer.keys();
    if (items.size() >= 2 && !keys.empty()) {
        const auto collator = makeCollator();
        const std::size_t width = keys.size();
        std::vector<KeyValue> table(items.size() * width);
        for (std::size_t i = 0; i < items.size(); ++i) {
            for (std::size_t k = 0; k < width; ++k) {
                std::optional<std::string> text = items[i]->firstValueText(keys[k].m_attributeName);
                if (text) table[i * width + k] = KeyValue{true, collationKey(*collator, *text)};
            }
        }
        std::vector<std::size_t> order(items.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < width; ++k) {
                const KeyValue& x = table[a * width + k];
                const KeyValue& y = table[b * width + k];
                int c = 0;
                if (x.present != y.present) {
                    c = x.present ? 1 : -1;
                } else if (x.present) {
                    c = x.collationKey.compare(y.collationKey);
                }
                if (c != 0) return keys[k].m_sortDirection == SortDirection::Ascending ? c < 0 : c > 0;
            }
            return false;
        });
        std::vector<EntryImpl*> sorted;
        sorted.reserve(items.size());
        for (std::size_t i : order) sorted.push_back(items[i]);
        items = std::move(sorted);
    }
    m_entries.changed();
    m_sorted = true;
}

void EntryCollectionImpl::releaseHeld() noexcept {
    for (EntryImpl* entry : m_entries.items) entry->Dispose();
    m_entries.changed();  // enumerators made before the disposal stop
    m_entryComparer.ClearSort();
}

}  // namespace Varnel::Ldap
