#include <gtest/gtest.h>

#include "runtime/Observable.h"

using namespace quillant;

namespace {
class Model : public ObservableObject {
public:
    Published<int> count{*this, 0};
};
}  // namespace

TEST(Observable, ObserversHearBeforeTheValueChanges) {
    Model m;
    std::vector<int> seen;
    auto sub = m.onWillChange([&] { seen.push_back(m.count); });
    m.count = 1;
    m.count = 2;
    EXPECT_EQ(seen, (std::vector<int>{0, 1}));
    EXPECT_EQ(m.count.get(), 2);
}

TEST(Observable, DroppedSubscriptionStopsNotifications) {
    Model m;
    int calls = 0;
    {
        auto sub = m.onWillChange([&] { ++calls; });
        m.count = 1;
    }
    m.count = 2;
    EXPECT_EQ(calls, 1);
}

TEST(Observable, ObserverMayUnsubscribeAnotherDuringEmission) {
    Model m;
    int second = 0;
    Subscription b;
    auto a = m.onWillChange([&] { b.reset(); });
    b = m.onWillChange([&] { ++second; });
    m.count = 1;
    EXPECT_EQ(second, 0);
}

TEST(Observable, DidSetObserversSeeEveryNewValueInOrder) {
    Model m;
    std::vector<int> seen;
    auto sub = m.count.onDidSet([&](int v) { seen.push_back(v); });
    m.count = 3;
    m.count = 3;
    m.count = 4;
    EXPECT_EQ(seen, (std::vector<int>{3, 3, 4}));
}
