// The event queue: order, selective removal, Paint coalescing.
#include <gtest/gtest.h>

#include <thread>

#include "platform/events.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

TEST(EventQueue, PeekTakeAndDropKeepTheOrder) {
  EventQueue q;
  EXPECT_TRUE(q.Empty());
  EXPECT_FALSE(q.Peek());
  EXPECT_FALSE(q.Take());
  EXPECT_FALSE(q.Drop());
  q.Post(Event::KeyDown('A'));
  q.Post(Event::Char('a'));
  q.Post(Event::KeyUp('A'));
  ASSERT_TRUE(q.Peek());
  EXPECT_EQ(q.Peek()->type, EventType::KeyDown);
  EXPECT_EQ(q.Size(), 3u);  // peek leaves it
  EXPECT_EQ(q.Take()->key, 'A');
  EXPECT_TRUE(q.Drop());  // the Char
  auto last = q.Take();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->type, EventType::KeyUp);
  EXPECT_TRUE(q.Empty());
}

TEST(EventQueue, TakeIfRemovesTheFirstMatchAndLeavesTheOthersInOrder) {
  EventQueue q;
  q.Post(Event::Mouse(EventType::MouseMove, 1, 2, 0));
  q.Post(Event::KeyDown(VK_ESCAPE));
  q.Post(Event::TimerTick(7));
  q.Post(Event::KeyDown(VK_RETURN));
  auto key = q.TakeIf([](const Event& e) { return e.type == EventType::KeyDown; });
  ASSERT_TRUE(key);
  EXPECT_EQ(key->key, VK_ESCAPE);
  EXPECT_FALSE(q.TakeIf([](const Event& e) { return e.type == EventType::Command; }));
  EXPECT_TRUE(q.Any([](const Event& e) { return e.type == EventType::Timer; }));
  EXPECT_FALSE(q.Any([](const Event& e) { return e.type == EventType::Quit; }));
  EXPECT_EQ(q.Take()->type, EventType::MouseMove);
  auto timer = q.Take();
  EXPECT_EQ(timer->type, EventType::Timer);
  EXPECT_EQ(timer->timerId, 7);
  EXPECT_EQ(q.Take()->key, VK_RETURN);
}

TEST(EventQueue, PaintIsCoalescedWhileOneIsWaiting) {
  EventQueue q;
  q.Post(Event::Repaint());
  q.Post(Event::KeyDown('X'));
  q.Post(Event::Repaint());
  q.Post(Event::Repaint());
  EXPECT_EQ(q.Size(), 2u);
  EXPECT_EQ(q.Take()->type, EventType::Paint);
  q.Post(Event::Repaint());  // none waiting any more: posted
  EXPECT_EQ(q.Size(), 2u);
  EXPECT_EQ(q.Take()->type, EventType::KeyDown);
  EXPECT_EQ(q.Take()->type, EventType::Paint);
  q.Post(Event::KeyDown('Y'));
  q.Clear();
  EXPECT_TRUE(q.Empty());
}

TEST(EventQueue, PostingFromSeveralThreadsLosesNothing) {
  EventQueue q;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&q] {
      for (int i = 0; i < 1000; ++i) q.Post(Event::TimerTick(i));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(q.Size(), 4000u);
}

TEST(Events, PostQuitMessageGoesToTheUiQueue) {
  UiEvents().Clear();
  PostQuitMessage(0);
  auto e = UiEvents().Take();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type, EventType::Quit);
  EXPECT_EQ(e->command, 0);
}

}  // namespace
}  // namespace tarmic
