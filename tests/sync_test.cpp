// The abstract lock, the private lock, the monitor and the locked counter,
// and the release of a shared string from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libutils/csgl/csgl_exc.hpp"
#include "libutils/csgl/csgl_string.hpp"
#include "libutils/csgl/csgl_sync.hpp"
#include "tests/support/host_recorder.hpp"

namespace {

constexpr unsigned long created = 0x021E0000, destroyed = 0x021F0000;
constexpr unsigned long value_id = 0x14110000, lock_id = 0x14120000, monitor_id = 0x14140000;

std::string pointer_text(const void* p) {
    char text[40];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// An object's address as %p prints it, taken while the object exists.
struct object_text {
    object_text(const void* p) : text(pointer_text(p)) {}
    std::string text;
};

std::string line(unsigned long type, unsigned long id, const object_text& object,
                 const char* data = nullptr) {
    char head[64];
    std::snprintf(head, sizeof head, "%08lx %08lx ", type, id);
    return head + object.text + (data ? std::string(" ") + data : "");
}

std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const trace_record& r : recorded_traces()) {
        out.push_back(line(r.type, r.id, r.object, r.has_data ? r.data.c_str() : nullptr));
    }
    return out;
}

// What another thread sees when it tries the lock (and gives it back if it got it).
bool busy_for_others(csgl_sync_lock_private& lock) {
    return std::async(std::launch::async, [&lock] {
               const bool busy = lock.request(0);
               if (!busy) lock.release();
               return busy;
           }).get();
}

template <class Exc>
void expect_thrown(Exc& e, const char* text, unsigned long error) {
    EXPECT_STREQ(e.message().msg_string(), text);
    EXPECT_EQ(e.error, error);
    EXPECT_STREQ(e.file, "libutils/csgl/csgl_sync.cpp");
    EXPECT_GT(e.line, 0);
}

TEST(sync_value, steps_and_records) {
    host_session session(0x800);
    const void *v_lock, *zero_lock;
    object_text v_address(nullptr), zero_address(nullptr);
    {
        csgl_sync_value v(-5);
        v_address = &v;
        v_lock = recorded_traces().at(0).object;  // the lock is built first
        EXPECT_EQ(lines(), (std::vector<std::string>{line(created, lock_id, v_lock),
                                                      line(created, value_id, &v, "-5")}));
        clear_recorded();
        EXPECT_EQ(v.increment(), -4);
        const void* monitor = recorded_traces().at(0).object;
        EXPECT_EQ(lines(), (std::vector<std::string>{
                               line(created, monitor_id, monitor, pointer_text(v_lock).c_str()),
                               line(destroyed, monitor_id, monitor)}));
        clear_recorded();
        csgl_sync_value zero(0);
        zero_address = &zero;
        zero_lock = recorded_traces().at(0).object;
        EXPECT_EQ(lines().at(1), line(created, value_id, &zero, "0"));
        EXPECT_EQ(zero.decrement(), -1);
        EXPECT_EQ(zero.increment(), 0);
        EXPECT_EQ(zero.decrement(), -1);
        EXPECT_EQ(zero.decrement(), -2);
        clear_recorded();
    }
    // `zero` goes first; each counter's lock before the counter itself.
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           line(destroyed, lock_id, zero_lock), line(destroyed, value_id, zero_address),
                           line(destroyed, lock_id, v_lock), line(destroyed, value_id, v_address)}));
}

TEST(sync_value, concurrent_increments) {
    csgl_sync_value v(0);
    std::vector<long> seen[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([&v, &mine = seen[t]] {
            for (int i = 0; i < 1000; ++i) mine.push_back(v.increment());
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<long> all(seen[0]);
    all.insert(all.end(), seen[1].begin(), seen[1].end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), 2000u);
    for (long i = 0; i < 2000; ++i) ASSERT_EQ(all[i], i + 1);
    EXPECT_EQ(v.increment(), 2001);
}

TEST(string_release, one_free_from_many_threads) {
    host_session session(0x800);
    auto* original = new csgl_string("shared text");
    const std::vector<trace_record> built = recorded_traces();
    ASSERT_GE(built.size(), 2u);
    const void* lock = built[0].object;
    const void* counter = built[1].object;
    ASSERT_EQ(built[1].id, value_id);

    constexpr int threads_count = 4, rounds = 100;
    std::promise<void> go;
    std::shared_future<void> started(go.get_future());
    std::atomic<int> wrong_texts{0};
    std::vector<std::unique_ptr<csgl_string>> handles;
    for (int t = 0; t < threads_count; ++t) handles.push_back(std::make_unique<csgl_string>(*original));
    std::vector<std::thread> threads;
    for (int t = 0; t < threads_count; ++t) {
        threads.emplace_back([&mine = handles[t], started, &wrong_texts] {
            started.wait();
            for (int i = 0; i < rounds; ++i) {
                csgl_string copy(*mine);
                csgl_string other;
                other = copy;
                if (std::strcmp(other.c_str(), "shared text") != 0) ++wrong_texts;
            }
            mine.reset();
        });
    }
    go.set_value();
    delete original;
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(wrong_texts.load(), 0);
    int counter_freed = 0, lock_freed = 0, steps = 0;
    const std::string lock_text = pointer_text(lock);
    for (const trace_record& r : recorded_traces()) {
        if (r.type == destroyed && r.id == value_id && r.object == counter) ++counter_freed;
        if (r.type == destroyed && r.id == lock_id && r.object == lock) ++lock_freed;
        if (r.type == created && r.id == monitor_id && r.data == lock_text) ++steps;
    }
    EXPECT_EQ(counter_freed, 1);
    EXPECT_EQ(lock_freed, 1);
    // Up and down for the original, each thread's handle, and two per round.
    EXPECT_EQ(steps, 2 * (1 + threads_count + 2 * threads_count * rounds));
}

TEST(lock_private, try_without_waiting) {
    csgl_sync_lock_private lock;
    EXPECT_FALSE(busy_for_others(lock));
    EXPECT_FALSE(lock.request(0));  // free: now held here
    EXPECT_TRUE(busy_for_others(lock));
    lock.release();
    EXPECT_FALSE(busy_for_others(lock));

    std::promise<void> held, done;
    std::thread holder([&] {
        lock.request();
        held.set_value();
        done.get_future().wait();
        lock.release();
    });
    held.get_future().wait();
    EXPECT_TRUE(lock.request(0));  // held by another thread: refused at once
    done.set_value();
    holder.join();
    EXPECT_FALSE(busy_for_others(lock));
}

TEST(lock_private, only_timeout_zero) {
    for (const long timeout : {1L, csgl_timeout_infinite}) {
        for (const bool held : {false, true}) {
            SCOPED_TRACE(std::to_string(timeout) + (held ? " held" : " free"));
            csgl_sync_lock_private lock;
            if (held) lock.request();
            try {
                lock.request(timeout);
                ADD_FAILURE() << "no exception";
            } catch (const exc_domain_overflow_t& e) {
                expect_thrown(e, "timeout must be 0", 0x2003000F);
            }
            EXPECT_EQ(busy_for_others(lock), held);
            if (held) lock.release();
        }
    }
}

TEST(lock_base, refuses_to_run) {
    csgl_sync_lock base;
    for (int operation = 0; operation < 3; ++operation) {
        try {
            if (operation == 0) base.request(0);
            if (operation == 1) base.request();
            if (operation == 2) base.release();
            ADD_FAILURE() << "no exception from operation " << operation;
        } catch (const exc_should_not_execute_t& e) {
            expect_thrown(e, "exc_should_not_execute", 0x20030007);
        }
    }
}

// A lock that notes each call and how many trace records existed by then.
struct noting_lock : csgl_sync_lock {
    std::vector<std::string> calls;
    bool refuse = false;
    bool request(long) override { return true; }
    void request() override {
        calls.push_back("request after " + std::to_string(recorded_traces().size()));
        if (refuse) throw 7;
    }
    void release() override { calls.push_back("release after " + std::to_string(recorded_traces().size())); }
};

TEST(monitor, records_around_the_lock) {
    host_session session(0x800);
    auto* lock = new csgl_sync_lock_private;
    EXPECT_EQ(lines(), std::vector<std::string>{line(created, lock_id, lock)});
    {
        const csgl_sync_monitor hold(*lock);
        EXPECT_TRUE(busy_for_others(*lock));
    }
    EXPECT_FALSE(busy_for_others(*lock));
    clear_recorded();
    const object_text freed(lock);
    delete lock;
    EXPECT_EQ(lines(), std::vector<std::string>{line(destroyed, lock_id, freed)});
    clear_recorded();
    noting_lock noted;
    object_text where(nullptr);
    {
        const csgl_sync_monitor hold(noted);
        where = &hold;
    }
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           line(created, monitor_id, where, pointer_text(&noted).c_str()),
                           line(destroyed, monitor_id, where)}));
    EXPECT_EQ(noted.calls, (std::vector<std::string>{"request after 1", "release after 1"}));

    noted.calls.clear();
    noted.refuse = true;
    EXPECT_THROW(csgl_sync_monitor hold(noted), int);
    EXPECT_EQ(noted.calls.size(), 1u);
    EXPECT_EQ(noted.calls[0].rfind("request", 0), 0u);
}

}  // namespace
