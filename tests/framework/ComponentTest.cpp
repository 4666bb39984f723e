#include "StreamTestClasses.h"
#include "support/Expectations.h"

#include "xelo/framework/Component.h"

#include <gtest/gtest.h>

namespace xelo::test {
namespace {

using xelo::testing::ExpectEachRaises;
using xelo::testing::MessageOf;

// Counts and names destructions for one test.
class DestroyLogScope {
 public:
  DestroyLogScope() { TTestComponent::destroyLog = &log; }
  ~DestroyLogScope() { TTestComponent::destroyLog = nullptr; }
  std::vector<std::string> log;
};

TTestComponent* Make(TComponent* owner, const std::string& name) {
  auto* c = new TTestComponent(owner);  // owned by `owner`
  c->SetName(name);
  return c;
}

TEST(ComponentOwnership, OwnerDeletesItsComponentsLastInsertedFirstAndInsertAndRemoveMoveThem) {
  DestroyLogScope scope;
  const int before = TTestComponent::liveCount;
  {
    auto owner = std::make_unique<TTestComponent>(nullptr);
    owner->SetName("Owner");
    TTestComponent* a = Make(owner.get(), "A");
    Make(owner.get(), "B");
    Make(a, "A1");  // a component of A, destroyed with A
    Make(owner.get(), "C");
    EXPECT_EQ((std::vector<int>{owner->GetComponentCount(), a->GetComponentCount(), TTestComponent::liveCount}),
              (std::vector<int>{3, 1, before + 5}));
  }
  EXPECT_EQ(TTestComponent::liveCount, before);
  EXPECT_EQ(scope.log, (std::vector<std::string>{"Owner", "C", "B", "A", "A1"}));
  TTestComponent first(nullptr);
  TTestComponent second(nullptr);
  TTestComponent* a = Make(&first, "A");
  delete Make(&first, "Deleted");  // leaves its owner
  EXPECT_EQ(first.FindComponent("Deleted"), nullptr);
  ExpectEachRaises<EListError>({[&] { first.GetComponent(1); }, [&] { first.GetComponent(-1); }});
  second.InsertComponent(*a);
  EXPECT_TRUE(a->GetOwner() == &second && first.GetComponentCount() == 0 && second.FindComponent("a") == a);
  second.RemoveComponent(*a);
  EXPECT_TRUE(a->GetOwner() == nullptr && second.GetComponentCount() == 0);
  std::unique_ptr<TTestComponent> own(a);  // now the caller's
  first.RemoveComponent(*a);               // not its owner: nothing happens
  EXPECT_THROW(a->InsertComponent(*a), EComponentError);
  // A component cannot come to own its own owner.
  TTestComponent* child = Make(a, "Child");
  EXPECT_THROW(child->InsertComponent(*a), EComponentError);
  EXPECT_EQ(child->GetOwner(), a);
}

TEST(ComponentNotification, InsertAndRemoveReachOwnerAndAllItsComponents) {
  TTestComponent owner(nullptr);
  owner.SetName("Owner");
  TTestComponent* a = Make(&owner, "A");
  TTestComponent* b = Make(&owner, "B");
  TTestComponent elsewhere(nullptr);
  TTestComponent* c = Make(&elsewhere, "C");
  for (TTestComponent* t : {&owner, a, b, c, &elsewhere}) t->notifications.clear();
  owner.InsertComponent(*c);
  // The moved component heard of both, leaving the old owner (who heard of
  // the removal) and joining the new.
  using Log = std::vector<std::string>;
  EXPECT_EQ((std::vector<Log>{owner.notifications, a->notifications, b->notifications, c->notifications, elsewhere.notifications}),
            (std::vector<Log>{{"+C"}, {"+C"}, {"+C"}, {"-C", "+C"}, {"-C"}}));

  a->SetBuddy(b);
  delete b;
  EXPECT_EQ(a->GetBuddy(), nullptr);
  EXPECT_EQ(owner.notifications, (std::vector<std::string>{"+C", "-B"}));
  EXPECT_EQ(c->notifications, (std::vector<std::string>{"-C", "+C", "-B"}));
}

// A free notification across owners, whichever of the two dies first: the
// survivor hears of it and never reaches the dead one afterwards
// (AddressSanitizer would report it).
TEST(ComponentNotification, FreeNotificationAcrossOwnersAndRemovedOnesAreSilent) {
  for (const bool targetFirst : {true, false}) {
    SCOPED_TRACE(targetFirst);
    auto formA = std::make_unique<TTestComponent>(nullptr);
    auto formB = std::make_unique<TTestComponent>(nullptr);
    TTestComponent* user = Make(formA.get(), "User");
    TTestComponent* target = Make(formB.get(), "Target");
    user->SetBuddy(target);  // registers a free notification
    user->notifications.clear();
    target->notifications.clear();
    if (targetFirst) {
      formB.reset();
      EXPECT_EQ(user->GetBuddy(), nullptr);
      EXPECT_EQ(user->notifications, std::vector<std::string>{"-Target"});
    } else {
      formA.reset();
      EXPECT_EQ(target->notifications, std::vector<std::string>{"-User"});
    }
  }
  // A removed free notification is silent.
  TTestComponent a(nullptr);
  auto b = std::make_unique<TTestComponent>(nullptr);
  a.FreeNotification(b.get());
  a.FreeNotification(b.get());  // twice: still one entry
  a.RemoveFreeNotification(b.get());
  a.notifications.clear();
  b.reset();
  EXPECT_TRUE(a.notifications.empty());
}

TEST(ComponentNaming, ValidUniqueCaseInsensitive) {
  TTestComponent owner(nullptr);
  TTestComponent* a = Make(&owner, "Alpha");
  TTestComponent* b = new TTestComponent(&owner);  // owned by `owner`
  EXPECT_EQ(b->GetName(), "");
  EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName("alpha"); }), "A component named alpha already exists");
  EXPECT_EQ(b->GetName(), "");
  EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName("1abc"); }), "'1abc' is not a valid component name");
  ExpectEachRaises<EComponentError>({[&] { b->SetName("a b"); }, [&] { b->SetName("a.b"); }});
  b->SetName("_beta2");
  EXPECT_EQ(owner.FindComponent("_BETA2"), b);
  // Inserting a component whose name the new owner has fails and changes nothing.
  TTestComponent elsewhere(nullptr);
  TTestComponent* other = Make(&elsewhere, "_Beta2");
  EXPECT_THROW(owner.InsertComponent(*other), EComponentError);
  EXPECT_EQ(other->GetOwner(), &elsewhere);
  EXPECT_EQ((std::vector<int>{owner.GetComponentCount(), elsewhere.GetComponentCount()}), (std::vector<int>{2, 1}));
  a->SetName("ALPHA");  // a new capitalisation of its own name
  EXPECT_EQ(a->GetName(), "ALPHA");
  a->SetName("");
  b->SetName("");  // two empty names are fine
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  // Without an owner only the identifier rule applies.
  TTestComponent loose(nullptr);
  loose.SetName("Alpha");
  EXPECT_THROW(loose.SetName("-"), EComponentError);
}

TEST(ComponentState, DesigningSpreadsAndDestroyingIsSet) {
  TTestComponent owner(nullptr);
  TTestComponent* a = Make(&owner, "A");
  const auto designing = [](TComponent* c) { return c->GetComponentState().Contains(csDesigning); };
  owner.SetDesigning(true);
  TTestComponent* late = Make(&owner, "Late");  // inherits the designing state
  EXPECT_EQ((std::vector<bool>{designing(&owner), designing(a), designing(late)}), (std::vector<bool>{true, true, true}));
  owner.SetDesigning(false, false);
  EXPECT_EQ((std::vector<bool>{designing(&owner), designing(a)}), (std::vector<bool>{false, true}));

  // The owner calls BeforeDestruction on a fully alive component.
  class Probe : public TTestComponent {
   public:
    using TTestComponent::TTestComponent;
    void BeforeDestruction() override {
      TTestComponent::BeforeDestruction();
      *seen = GetComponentState().Contains(csDestroying);
    }
    bool* seen = nullptr;
  };
  bool seen = false;
  auto holder = std::make_unique<TTestComponent>(nullptr);
  auto* probe = new Probe(holder.get());  // owned by holder
  probe->seen = &seen;
  holder.reset();
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace xelo::test
