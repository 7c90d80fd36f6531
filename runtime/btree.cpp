#include "runtime/btree.h"

namespace {

int Height(btree* n)
{
    return n ? n->btree_height : 0;
}

void Update(btree* n)
{
    int l = Height(n->btree_left), r = Height(n->btree_right);
    n->btree_height = 1 + (l > r ? l : r);
}

btree* RotateRight(btree* n)
{
    btree* l = n->btree_left;
    n->btree_left = l->btree_right;
    l->btree_right = n;
    Update(n);
    Update(l);
    return l;
}

btree* RotateLeft(btree* n)
{
    btree* r = n->btree_right;
    n->btree_right = r->btree_left;
    r->btree_left = n;
    Update(n);
    Update(r);
    return r;
}

btree* Balance(btree* n)
{
    Update(n);
    int b = Height(n->btree_left) - Height(n->btree_right);
    if (b > 1) {
        if (Height(n->btree_left->btree_left) < Height(n->btree_left->btree_right))
            n->btree_left = RotateLeft(n->btree_left);
        return RotateRight(n);
    }
    if (b < -1) {
        if (Height(n->btree_right->btree_right) < Height(n->btree_right->btree_left))
            n->btree_right = RotateRight(n->btree_right);
        return RotateLeft(n);
    }
    return n;
}

// The recursions below rebalance a node only when its child's height changed:
// an untouched level keeps its balance, and not looking at the sibling saves
// a cache miss per level in large trees.
btree* Insert(btree* n, btree* node)
{
    if (!n) return node;
    int c = n->btree_compare(node);
    if (c == 0) return n;
    btree*& child = c < 0 ? n->btree_left : n->btree_right;
    int before = Height(child);
    child = Insert(child, node);
    return Height(child) == before ? n : Balance(n);
}

btree* DetachMin(btree* n, btree** min)
{
    if (!n->btree_left) {
        *min = n;
        return n->btree_right;
    }
    int before = n->btree_left->btree_height;
    n->btree_left = DetachMin(n->btree_left, min);
    return Height(n->btree_left) == before ? n : Balance(n);
}

btree* Remove(btree* n, btree* node)
{
    if (!n) return nullptr;
    if (n != node) {
        btree*& child = n->btree_compare(node) < 0 ? n->btree_left : n->btree_right;
        int before = Height(child);
        child = Remove(child, node);
        return Height(child) == before ? n : Balance(n);
    }
    btree* l = n->btree_left;
    btree* r = n->btree_right;
    n->btree_left = n->btree_right = nullptr;
    n->btree_height = 1;
    if (!l) return r;
    if (!r) return l;
    // Intrusive nodes cannot swap keys, so the successor node takes the place.
    btree* successor = nullptr;
    r = DetachMin(r, &successor);
    successor->btree_left = l;
    successor->btree_right = r;
    return Balance(successor);
}

}  // namespace

btree* btree::btree_put(btree* root, btree* node)
{
    return Insert(root, node);
}

btree* btree::btree_get(btree* root, btree* node)
{
    return Remove(root, node);
}

btree* btree::btree_find(btree* root, void* key)
{
    for (btree* n = root; n;) {
        int c = n->btree_compare(key);
        if (c == 0) return n;
        n = c < 0 ? n->btree_left : n->btree_right;
    }
    return nullptr;
}

btree* btree::btree_find_left(btree* root, void* key)
{
    btree* best = nullptr;
    for (btree* n = root; n;) {
        int c = key ? n->btree_compare(key) : 1;
        if (c == 0) return n;
        if (c < 0) {
            n = n->btree_left;
        } else {
            best = n;
            n = n->btree_right;
        }
    }
    return best;
}

btree* btree::btree_find_next_left(btree* root, void* key)
{
    btree* best = nullptr;
    for (btree* n = root; n;) {
        int c = key ? n->btree_compare(key) : 1;
        if (c <= 0) {
            n = n->btree_left;
        } else {
            best = n;
            n = n->btree_right;
        }
    }
    return best;
}

btree* btree::btree_find_right(btree* root, void* key)
{
    btree* best = nullptr;
    for (btree* n = root; n;) {
        int c = key ? n->btree_compare(key) : -1;
        if (c == 0) return n;
        if (c > 0) {
            n = n->btree_right;
        } else {
            best = n;
            n = n->btree_left;
        }
    }
    return best;
}

btree* btree::btree_find_next_right(btree* root, void* key)
{
    btree* best = nullptr;
    for (btree* n = root; n;) {
        int c = key ? n->btree_compare(key) : -1;
        if (c >= 0) {
            n = n->btree_right;
        } else {
            best = n;
            n = n->btree_left;
        }
    }
    return best;
}
