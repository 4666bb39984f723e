#include "StreamTestClasses.h"
#include "StringLines.h"

#include "xelo/framework/Component.h"

#include <gtest/gtest.h>

namespace xelo::test {
namespace {

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
    EXPECT_EQ(owner->GetComponentCount(), 3);
    EXPECT_EQ(a->GetComponentCount(), 1);
    EXPECT_EQ(TTestComponent::liveCount, before + 5);
  }
  EXPECT_EQ(TTestComponent::liveCount, before);
  EXPECT_EQ(scope.log, (std::vector<std::string>{"Owner", "C", "B", "A", "A1"}));
  TTestComponent first(nullptr);
  TTestComponent second(nullptr);
  TTestComponent* a = Make(&first, "A");
  delete Make(&first, "Deleted");  // leaves its owner
  EXPECT_EQ(first.FindComponent("Deleted"), nullptr);
  EXPECT_THROW(first.GetComponent(1), EListError);
  EXPECT_THROW(first.GetComponent(-1), EListError);
  second.InsertComponent(*a);
  EXPECT_EQ(a->GetOwner(), &second);
  EXPECT_EQ(first.GetComponentCount(), 0);
  EXPECT_EQ(second.FindComponent("a"), a);
  second.RemoveComponent(*a);
  EXPECT_EQ(a->GetOwner(), nullptr);
  EXPECT_EQ(second.GetComponentCount(), 0);
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
  owner.notifications.clear();
  a->notifications.clear();
  b->notifications.clear();
  c->notifications.clear();
  elsewhere.notifications.clear();

  owner.InsertComponent(*c);
  EXPECT_EQ(owner.notifications, std::vector<std::string>{"+C"});
  EXPECT_EQ(a->notifications, std::vector<std::string>{"+C"});
  EXPECT_EQ(b->notifications, std::vector<std::string>{"+C"});
  // The moved component heard of both: leaving the old owner, joining the new.
  EXPECT_EQ(c->notifications, (std::vector<std::string>{"-C", "+C"}));
  // The old owner heard of the removal.
  EXPECT_EQ(elsewhere.notifications, std::vector<std::string>{"-C"});

  a->SetBuddy(b);
  delete b;
  EXPECT_EQ(a->GetBuddy(), nullptr);
  EXPECT_EQ(owner.notifications, (std::vector<std::string>{"+C", "-B"}));
  EXPECT_EQ(c->notifications, (std::vector<std::string>{"-C", "+C", "-B"}));
}

// A free notification across owners, whichever of the two dies first: the
// survivor hears of it and never reaches the dead one afterwards
// (AddressSanitizer would report it).
TEST(ComponentNotification, FreeNotificationAcrossOwners) {
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
}

TEST(ComponentNotification, RemovedFreeNotificationIsSilent) {
  TTestComponent a(nullptr);
  auto b = std::make_unique<TTestComponent>(nullptr);
  a.SetName("A");
  b->SetName("B");
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
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  EXPECT_THROW(b->SetName("a.b"), EComponentError);
  b->SetName("_beta2");
  EXPECT_EQ(owner.FindComponent("_BETA2"), b);
  // Inserting a component whose name the new owner has fails and changes nothing.
  TTestComponent elsewhere(nullptr);
  TTestComponent* other = Make(&elsewhere, "_Beta2");
  EXPECT_THROW(owner.InsertComponent(*other), EComponentError);
  EXPECT_EQ(other->GetOwner(), &elsewhere);
  EXPECT_EQ(owner.GetComponentCount(), 2);
  EXPECT_EQ(elsewhere.GetComponentCount(), 1);
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
  owner.SetDesigning(true);
  EXPECT_TRUE(owner.GetComponentState().Contains(csDesigning));
  EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));
  TTestComponent* late = Make(&owner, "Late");  // inherits the designing state
  EXPECT_TRUE(late->GetComponentState().Contains(csDesigning));
  owner.SetDesigning(false, false);
  EXPECT_FALSE(owner.GetComponentState().Contains(csDesigning));
  EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));

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
