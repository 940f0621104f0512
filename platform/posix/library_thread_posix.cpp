// Background threads of a library, ended by its unload hook and at process exit.
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/library_threads.h"

namespace platform {

namespace {
struct LibraryThread {
    pthread_t id{};
    void (*fn)(void*) = nullptr;
    void (*stop)(void*) = nullptr;
    void* context = nullptr;
    std::atomic<bool> done{false};
};

std::mutex g_threadsLock;
std::vector<LibraryThread*> g_threads;

void* RunLibraryThread(void* p) {
    auto* thread = static_cast<LibraryThread*>(p);
    thread->fn(thread->context);
    thread->done = true;
    return nullptr;
}

// exit() destroys static objects while other threads still run: this one, created when the first
// thread starts, is destroyed before every static object that existed by then, and ends the
// threads that use them.
struct EndAtExit {
    ~EndAtExit() { EndLibraryThreads(); }
};
}  // namespace

bool StartLibraryThread(void (*fn)(void*), void (*stop)(void*), void* context) {
    static EndAtExit endAtExit;
    std::lock_guard<std::mutex> lock(g_threadsLock);
    // Threads whose function has returned are only finishing: collected here.
    for (auto it = g_threads.begin(); it != g_threads.end();) {
        if ((*it)->done) {
            pthread_join((*it)->id, nullptr);
            delete *it;
            it = g_threads.erase(it);
        } else {
            ++it;
        }
    }
    auto* thread = new LibraryThread;
    thread->fn = fn;
    thread->stop = stop;
    thread->context = context;
    if (pthread_create(&thread->id, nullptr, &RunLibraryThread, thread) != 0) {
        delete thread;
        return false;
    }
    g_threads.push_back(thread);
    return true;
}

void EndLibraryThreads() {
    std::vector<LibraryThread*> threads;
    {
        std::lock_guard<std::mutex> lock(g_threadsLock);
        threads.swap(g_threads);
    }
    for (LibraryThread* thread : threads)
        if (!thread->done) thread->stop(thread->context);
    for (LibraryThread* thread : threads) {
        pthread_join(thread->id, nullptr);
        delete thread;
    }
}

}  // namespace platform
