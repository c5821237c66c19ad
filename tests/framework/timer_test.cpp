// The manual timer service: due order, repeating timers, re-arming and timers freed or
// outliving their service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework.h"

TEST(ManualTimerService, FiresDueTimersInOrderAndRepeats) {
  TManualTimerService clock;
  std::vector<std::string> fired;
  auto a = clock.CreateTimer(), b = clock.CreateTimer(), c = clock.CreateTimer();
  a->OnTimer = [&] { fired.push_back("a@" + std::to_string(clock.Milliseconds())); };
  b->OnTimer = [&] { fired.push_back("b@" + std::to_string(clock.Milliseconds())); };
  c->OnTimer = [&] { fired.push_back("c@" + std::to_string(clock.Milliseconds())); };
  a->SetInterval(30);
  b->SetInterval(20);
  c->SetInterval(30);
  EXPECT_EQ(clock.ArmedCount(), 0);  // created disabled
  a->SetEnabled(true);
  b->SetEnabled(true);
  c->SetEnabled(true);
  clock.Advance(65);
  EXPECT_EQ(clock.Milliseconds(), 65);
  // Ties go in arming order; a repeating timer starts its next interval when it fires.
  EXPECT_EQ(fired,
            (std::vector<std::string>{"b@20", "a@30", "c@30", "b@40", "a@60", "c@60", "b@60"}));
}

TEST(ManualTimerService, ReArmingRestartsTheIntervalAndDisablingStops) {
  TManualTimerService clock;
  auto t = clock.CreateTimer();
  int ticks = 0;
  t->OnTimer = [&] { ++ticks; };
  t->SetInterval(100);
  t->SetEnabled(true);
  clock.Advance(60);
  t->SetInterval(50);  // a new interval while enabled counts from now: due at 110
  clock.Advance(49);
  EXPECT_EQ(ticks, 0);
  clock.Advance(1);
  EXPECT_EQ(ticks, 1);
  t->SetEnabled(false);
  EXPECT_FALSE(clock.FireNext());
  clock.Advance(1000);
  EXPECT_EQ(ticks, 1);
  t->SetEnabled(true);
  ASSERT_TRUE(clock.FireNext());
  EXPECT_EQ(clock.Milliseconds(), 1160);
}

TEST(ManualTimerService, ATimerMayFreeItselfAndOutliveItsService) {
  auto clock = std::make_unique<TManualTimerService>();
  std::unique_ptr<TTimer> t = clock->CreateTimer();
  std::unique_ptr<TTimer> other = clock->CreateTimer();
  t->OnTimer = [&] { t.reset(); };
  t->SetInterval(10);
  t->SetEnabled(true);
  clock->Advance(100);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(clock->ArmedCount(), 0);
  clock.reset();
  other->SetEnabled(true);  // its service is gone: nothing to arm, nothing breaks
  other.reset();
}

TEST(TimerService, ScopeInstallsAndRestores) {
  TTimerService& before = TimerService();
  {
    TManualTimerService mine;
    TTimerServiceScope scope(mine);
    EXPECT_EQ(&TimerService(), &mine);
  }
  EXPECT_EQ(&TimerService(), &before);
}
