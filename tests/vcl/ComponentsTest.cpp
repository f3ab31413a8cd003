#include "vcl/Classes.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vcl;

namespace {

// Records its own release into a shared log.
class TTracked : public TComponent {
public:
    TTracked(TComponent* owner, std::vector<std::string>* log, std::string name)
        : TComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    ~TTracked() override { log_->push_back(Name()); }

private:
    std::vector<std::string>* log_;
};

TEST(OwnerTree, OwnersReleaseWhatTheyOwnLastMadeFirst) {
    std::vector<std::string> log;
    {
        TComponent root(nullptr);
        auto* a = Create<TTracked>(&root, &log, "a");
        Create<TTracked>(a, &log, "a.child");
        auto* b = Create<TTracked>(&root, &log, "b");
        EXPECT_EQ(root.ComponentCount(), 2);
        EXPECT_EQ(b->ComponentIndex(), 1);
        EXPECT_EQ(root.FindComponent("B"), b);
        EXPECT_EQ(b->Owner(), &root);
    }
    // A component's own destructor runs before its base releases what it owns.
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "a.child"}));
}

TEST(OwnerTree, FreeAndNilReleasesEarlyAndClearsTheReference) {
    std::vector<std::string> log;
    TComponent root(nullptr);
    auto* a = Create<TTracked>(&root, &log, "a");
    auto* b = Create<TTracked>(&root, &log, "b");
    FreeAndNil(a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"a"});
    EXPECT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(b->ComponentIndex(), 0);
    FreeAndNil(a); // a cleared reference is nothing to release
    EXPECT_EQ(log.size(), 1u);
}

TEST(OwnerTree, CreateNeedsAnOwner) {
    std::vector<std::string> log;
    EXPECT_THROW(Create<TTracked>(nullptr, &log, "orphan"), std::invalid_argument);
}

} // namespace
