#pragma once

// Intrusive doubly linked lists that keep insertion order. An element is in
// at most one list at a time.
namespace istd {

class list;

class listElement {
public:
    virtual ~listElement() { remove(); }
    listElement* goNext() const { return next; }
    listElement* goPrevious() const { return prev; }
    list* getList() const { return owner; }
    void remove();

private:
    friend class list;
    listElement* next = nullptr;
    listElement* prev = nullptr;
    list* owner = nullptr;
};

class list {
public:
    ~list() { clear(); }
    listElement* front() const { return head; }
    listElement* back() const { return tail; }
    bool empty() const { return head == nullptr; }
    unsigned size() const { return count; }
    void push_back(listElement* e);
    void push_front(listElement* e);
    void insert_after(listElement* pos, listElement* e);
    void remove(listElement* e);
    // Unlinks every element without deleting it.
    void clear();

private:
    listElement* head = nullptr;
    listElement* tail = nullptr;
    unsigned count = 0;
};

inline void listElement::remove()
{
    if (owner) owner->remove(this);
}

inline void list::push_back(listElement* e)
{
    e->remove();
    e->owner = this;
    e->prev = tail;
    e->next = nullptr;
    if (tail) tail->next = e;
    else head = e;
    tail = e;
    count++;
}

inline void list::push_front(listElement* e)
{
    e->remove();
    e->owner = this;
    e->next = head;
    e->prev = nullptr;
    if (head) head->prev = e;
    else tail = e;
    head = e;
    count++;
}

inline void list::insert_after(listElement* pos, listElement* e)
{
    if (!pos) {
        push_front(e);
        return;
    }
    e->remove();
    e->owner = this;
    e->prev = pos;
    e->next = pos->next;
    if (pos->next) pos->next->prev = e;
    else tail = e;
    pos->next = e;
    count++;
}

inline void list::remove(listElement* e)
{
    if (e->owner != this) return;
    if (e->prev) e->prev->next = e->next;
    else head = e->next;
    if (e->next) e->next->prev = e->prev;
    else tail = e->prev;
    e->next = e->prev = nullptr;
    e->owner = nullptr;
    count--;
}

inline void list::clear()
{
    while (head) remove(head);
}

}  // namespace istd
