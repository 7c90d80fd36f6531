#include "runtime/btree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

namespace {

class Node : public btree {
public:
    int key = 0;
    int btree_compare(void* k) override { return Cmp(*static_cast<int*>(k)); }
    int btree_compare(btree* other) override { return Cmp(static_cast<Node*>(other)->key); }
    int Cmp(int k) const { return k < key ? -1 : k > key ? 1 : 0; }
};

int Key(btree* n)
{
    return n ? static_cast<Node*>(n)->key : -1000;
}

// Returns the height, checking the stored heights, the AVL balance and the order.
int Check(btree* n, std::vector<int>& keys)
{
    if (!n) return 0;
    int l = Check(n->btree_left, keys);
    keys.push_back(Key(n));
    int r = Check(n->btree_right, keys);
    EXPECT_LE(std::abs(l - r), 1);
    EXPECT_EQ(1 + std::max(l, r), n->btree_height);
    return 1 + std::max(l, r);
}

}  // namespace

TEST(Btree, random_puts_and_gets_match_a_sorted_set_and_stay_balanced)
{
    const int N = 1000;
    std::vector<Node> nodes(N);
    for (int i = 0; i < N; i++) nodes[i].key = 2 * i;  // odd keys probe the gaps
    std::set<int> ref;
    btree* root = nullptr;
    std::mt19937 rng(7);
    auto at = [&](std::set<int>::iterator it) { return it == ref.end() ? -1000 : *it; };
    auto before = [&](std::set<int>::iterator it) { return it == ref.begin() ? -1000 : *std::prev(it); };
    for (int op = 0; op < 20000; op++) {
        Node& n = nodes[rng() % N];
        if (ref.erase(n.key)) {
            root = btree::btree_get(root, &n);
        } else {
            root = btree::btree_put(root, &n);
            ref.insert(n.key);
        }

        if (op % 200) continue;
        std::vector<int> keys;
        Check(root, keys);
        ASSERT_TRUE(std::equal(keys.begin(), keys.end(), ref.begin(), ref.end()));
        for (int probe = -1; probe <= 2 * N; probe++) {
            auto ge = ref.lower_bound(probe), gt = ref.upper_bound(probe);
            ASSERT_EQ(ref.count(probe) ? probe : -1000, Key(btree::btree_find(root, &probe)));
            ASSERT_EQ(at(ge), Key(btree::btree_find_right(root, &probe)));
            ASSERT_EQ(at(gt), Key(btree::btree_find_next_right(root, &probe)));
            ASSERT_EQ(before(gt), Key(btree::btree_find_left(root, &probe)));
            ASSERT_EQ(before(ge), Key(btree::btree_find_next_left(root, &probe)));
        }
        EXPECT_EQ(at(ref.begin()), Key(btree::btree_find_right(root, nullptr)));
        EXPECT_EQ(before(ref.end()), Key(btree::btree_find_left(root, nullptr)));
    }

    Node twin;
    twin.key = nodes[0].key;
    if (!ref.count(twin.key)) root = btree::btree_put(root, &nodes[0]);
    root = btree::btree_put(root, &twin);  // an equal key is refused
    EXPECT_EQ(&nodes[0], btree::btree_find(root, &twin.key));
}
