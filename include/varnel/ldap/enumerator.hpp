// Enumerators of the model collections and the iterator adapter behind begin()/end().
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>

namespace Varnel::Ldap {

/// The enumeration protocol of a collection: MoveNext, then get_Current. An enumerator keeps the objects of
/// its search alive. Enumerators of the entry and value collections fail fast: once their collection's list
/// has changed, MoveNext throws InvalidOperationException; get_Current before the first MoveNext or after
/// the end throws it too.
template <class T>
class Enumerator {
public:
    virtual ~Enumerator() = default;
    virtual bool MoveNext() = 0;
    virtual std::shared_ptr<T> get_Current() const = 0;
};

/// Input iterator over an Enumerator, so that collections work with range-for. It walks the collection the
/// way its enumerator does, failing fast where the enumerator does.
template <class T>
class EnumeratorIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::shared_ptr<T>;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    EnumeratorIterator() = default;  // the end
    explicit EnumeratorIterator(std::shared_ptr<Enumerator<T>> e) : m_enumerator(std::move(e)) { advance(); }

    reference operator*() const { return m_current; }
    pointer operator->() const { return &m_current; }
    EnumeratorIterator& operator++() {
        advance();
        return *this;
    }
    void operator++(int) { advance(); }
    friend bool operator==(const EnumeratorIterator& a, const EnumeratorIterator& b) noexcept {
        return a.m_enumerator == b.m_enumerator;
    }

private:
    void advance() {
        if (m_enumerator && m_enumerator->MoveNext()) {
            m_current = m_enumerator->get_Current();
        } else {
            m_enumerator.reset();
            m_current.reset();
        }
    }
    std::shared_ptr<Enumerator<T>> m_enumerator;
    std::shared_ptr<T> m_current;
};

}  // namespace Varnel::Ldap
