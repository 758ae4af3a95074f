#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tk/tk_exception.h"
#include "tk/tk_thread.h"

namespace {

using namespace std::chrono_literals;

// Runs until released (or, when it polls, until a stop is requested).
class gate_functor : public tk_thread_functor {
public:
    explicit gate_functor(bool polls) : polls_(polls) {}
    int operator()() override {
        entered = true;
        while (!released) {
            if (polls_ && stop_requested()) return 7;
            std::this_thread::sleep_for(1ms);
        }
        return 3;
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};

private:
    bool polls_;
};

// A thread that runs the functor it is given (not owned).
class given_thread : public tk_thread {
public:
    explicit given_thread(tk_thread_functor* f) : f_(f) {}
    ~given_thread() override { stop_and_wait(); }
    std::atomic<int> failures{0};
    std::string last_failure;

protected:
    tk_thread_functor* create_functor() override { return f_; }
    void report_failure(std::exception_ptr failure) override {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            last_failure = e.what();
        }
        ++failures;
    }

private:
    tk_thread_functor* f_;
};

class counting_functor : public tk_thread_functor {
public:
    bool is_finished() override { return done; }
    void step() override { ++steps; }
    int finish() override { return 42; }
    bool done = true;
    int steps = 0;
};

void wait_until(const std::atomic<bool>& flag) {
    for (int i = 0; i < 5000 && !flag; ++i) std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST(tk_thread_lifecycle, start_while_running_asserts_and_start_after_end_closes) {
    gate_functor f(false);
    given_thread t(&f);
    t.start();
    wait_until(f.entered);
    EXPECT_THROW(t.start(), tk_mail_assertion);
    EXPECT_THROW(t.close(), tk_mail_assertion);
    f.released = true;
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_EQ(t.get_exit_code(), 3);
    f.released = false;
    f.entered = false;
    t.start();  // closes the ended thread first
    wait_until(f.entered);
    EXPECT_TRUE(t.is_running());
    f.released = true;
    ASSERT_TRUE(t.wait_for(5000ms));
    t.close();
    EXPECT_EQ(t.get_functor(), nullptr);
}

TEST(tk_thread_lifecycle, finished_functor_runs_no_step) {
    counting_functor f;
    given_thread t(&f);
    t.start();
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_EQ(f.steps, 0);
    EXPECT_EQ(t.get_exit_code(), 42);
}

TEST(tk_thread_lifecycle, default_functor_is_owned_and_ends_on_stop_request) {
    tk_thread t;
    t.start();
    ASSERT_NE(t.get_functor(), nullptr);
    EXPECT_TRUE(t.is_running());
    t.request_stop();
    ASSERT_TRUE(t.wait_for(5000ms));
    t.close();  // deletes the owned functor (LeakSanitizer checks)
    EXPECT_EQ(t.get_functor(), nullptr);
}

TEST(tk_thread_lifecycle, stop_request_is_cleared_by_start) {
    gate_functor f(true);
    f.request_stop();
    given_thread t(&f);
    t.start();
    wait_until(f.entered);
    EXPECT_TRUE(t.is_running());
    f.released = true;
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_EQ(t.get_exit_code(), 3);
}

TEST(tk_thread_lifecycle, current_functor_is_seen_only_on_the_worker) {
    struct probe : tk_thread_functor {
        int operator()() override { return tk_thread::current_functor() == this ? 1 : 0; }
    } f;
    given_thread t(&f);
    t.start();
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_EQ(t.get_exit_code(), 1);
    EXPECT_EQ(tk_thread::current_functor(), nullptr);
}

TEST(tk_thread_failures, throwing_functor_is_reported_not_terminated) {
    struct thrower : tk_thread_functor {
        int operator()() override { throw std::runtime_error("boom"); }
    } f;
    given_thread t(&f);
    t.start();
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_EQ(t.failures, 1);
    EXPECT_EQ(t.last_failure, "boom");
    EXPECT_EQ(t.get_exit_code(), -1);
    EXPECT_FALSE(t.was_aborted());
}

TEST(tk_thread_failures, abort_exception_is_remembered) {
    struct aborter : tk_thread_functor {
        int operator()() override { throw tk_abort_exception(2, "internal"); }
    } f;
    given_thread t(&f);
    t.start();
    ASSERT_TRUE(t.wait_for(5000ms));
    EXPECT_TRUE(t.was_aborted());
    EXPECT_EQ(t.failures, 1);
}

TEST(tk_thread_failures, null_functor_is_an_assertion_in_start) {
    given_thread t(nullptr);
    EXPECT_THROW(t.start(), tk_mail_assertion);
    EXPECT_FALSE(t.is_running());
}

TEST(tk_thread_stop, polling_functor_stops_promptly_on_destruction) {
    gate_functor f(true);
    {
        given_thread t(&f);
        t.set_stop_bound(10000ms);
        t.start();
        wait_until(f.entered);
    }  // the destructor requests the stop and waits
    EXPECT_TRUE(f.stop_requested());
    EXPECT_FALSE(f.released);
}

TEST(tk_thread_stop_death, ignoring_functor_ends_the_process_with_255) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            gate_functor f(false);
            {
                given_thread t(&f);
                t.set_stop_bound(100ms);
                t.start();
                wait_until(f.entered);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(255), "");
}
