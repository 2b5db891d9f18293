#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/bus.h"

using tavri::Bus;

TEST(Bus, DeliversInRegistrationOrderTwiceForDoubleRegistrationAndOnlyByName) {
  Bus bus;
  std::vector<std::string> calls;
  int a = 0, b = 0;
  bus.register_observer(&a, "X", [&](const QVariant& v) { calls.push_back("a" + v.toString().toStdString()); });
  bus.register_observer(&b, "X", [&](const QVariant&) { calls.push_back("b"); });
  bus.register_observer(&a, "X", [&](const QVariant&) { calls.push_back("a2"); });
  bus.register_observer(&b, "Y", [&](const QVariant&) { calls.push_back("y"); });
  bus.post("X", QString("1"));
  EXPECT_EQ(calls, (std::vector<std::string>{"a1", "b", "a2"}));

  calls.clear();
  bus.unregister(&a);
  bus.post("X");
  bus.post("nobody listens");
  EXPECT_EQ(calls, (std::vector<std::string>{"b"}));
}

TEST(Bus, RequestAndAnswerInsideOneSynchronousPost) {
  Bus bus;
  int answerer = 0, requester = 0;
  QVariant stored = QString("unchanged");
  bus.register_observer(&requester, "FOLDER_URL", [&](const QVariant& v) { stored = v; });
  bus.post("GET_URL");  // nobody answers yet
  EXPECT_EQ(stored.toString(), "unchanged");
  bus.register_observer(&answerer, "GET_URL", [&](const QVariant&) { bus.post("FOLDER_URL", QString("/srv")); });
  bus.post("GET_URL");
  EXPECT_EQ(stored.toString(), "/srv");
}

TEST(Bus, HandlersMayRegisterAndUnregisterDuringDelivery) {
  Bus bus;
  int a = 0, b = 0, c = 0;
  int late_calls = 0, b_calls = 0;
  bus.register_observer(&a, "X", [&](const QVariant&) {
    bus.register_observer(&c, "X", [&](const QVariant&) { ++late_calls; });
    bus.unregister(&b);
  });
  bus.register_observer(&b, "X", [&](const QVariant&) { ++b_calls; });
  bus.post("X");
  EXPECT_EQ(b_calls, 0) << "an observer removed during a delivery is not called";
  EXPECT_EQ(late_calls, 0) << "a registration made during a delivery starts with the next post";
  bus.post("X");
  EXPECT_EQ(late_calls, 1);
}

TEST(Bus, PostsFromSeveralThreadsWhileRegistering) {
  Bus bus;
  std::atomic<int> count{0};
  int observer = 0;
  bus.register_observer(&observer, "X", [&](const QVariant&) { ++count; });
  constexpr int kPosts = 20000;
  auto poster = [&] {
    for (int i = 0; i < kPosts; ++i) bus.post("X");
  };
  std::thread t1(poster), t2(poster);
  std::vector<int> others(200);
  for (auto& o : others) {
    bus.register_observer(&o, "Z", [](const QVariant&) {});
    bus.unregister(&o);
  }
  t1.join();
  t2.join();
  EXPECT_EQ(count.load(), 2 * kPosts);
  EXPECT_EQ(bus.observer_count("Z"), 0u);
}

TEST(Bus, UnregisterWaitsForADeliveryOnAnotherThreadAndNotForItsOwn) {
  Bus bus;
  std::atomic<bool> inside{false}, finished{false};
  int observer = 0;
  bus.register_observer(&observer, "X", [&](const QVariant&) {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished = true;
  });
  std::thread poster([&] { bus.post("X"); });
  while (!inside) std::this_thread::yield();
  bus.unregister(&observer);
  EXPECT_TRUE(finished) << "the observer may go once unregister returns";
  poster.join();

  int self = 0;
  bus.register_observer(&self, "Y", [&](const QVariant&) { bus.unregister(&self); });
  bus.post("Y");  // returns: a handler does not wait for itself
  EXPECT_EQ(bus.observer_count("Y"), 0u);
}
