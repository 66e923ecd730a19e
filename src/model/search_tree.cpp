#include "model/search_tree.hpp"

#include "model/entry_collection_impl.hpp"
#include "model/model_object.hpp"

namespace Varnel::Ldap {

SearchTree::SearchTree(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options, LDAPMessage* chain)
    : m_connection(std::move(connection)), m_options(std::move(options)), m_searchResult(m_connection->api(), chain) {}

SearchTree::~SearchTree() { rollback(Mark{nullptr, 0, 0}); }

void SearchTree::link(ModelObject& object) noexcept {
    object.m_madeBefore = m_newest;
    m_newest = &object;
}

void* SearchTree::allocate(std::size_t size, std::size_t alignment) {
    for (;;) {
        if (m_block < m_blocks.size()) {
            const Block& block = m_blocks[m_block];
            const std::size_t offset = (m_used + alignment - 1) / alignment * alignment;
            if (offset <= block.size && size <= block.size - offset) {
                m_used = offset + size;
                return block.data.get() + offset;
            }
            if (m_block + 1 < m_blocks.size()) {  // a block left over from an undone operation
                ++m_block;
                m_used = 0;
                continue;
            }
        }
        const std::size_t blockSize = size > c_blockSize ? size : c_blockSize;
        m_blocks.push_back(Block{std::unique_ptr<std::byte[]>(new std::byte[blockSize]), blockSize});
        m_block = m_blocks.size() - 1;
        m_used = 0;
    }
}

void SearchTree::rollback(const Mark& to) noexcept {
    while (m_newest != to.newest) {
        ModelObject* object = m_newest;
        m_newest = object->m_madeBefore;
        object->~ModelObject();
    }
    if (to.block < m_block || (to.block == m_block && to.used < m_used)) {
        m_block = to.block;
        m_used = to.used;
    }
}

std::shared_ptr<SearchTree> SearchTree::Create(std::shared_ptr<Connection> connection, std::shared_ptr<Options> options,
                                               LDAPMessage* chain) {
    return std::shared_ptr<SearchTree>(new SearchTree(std::move(connection), std::move(options), chain));
}

EntryCollectionImpl& SearchTree::entryCollection() {
    if (m_entryCollection == nullptr) m_entryCollection = make<EntryCollectionImpl>();
    return *m_entryCollection;
}

}  // namespace Varnel::Ldap
