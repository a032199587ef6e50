#include "platform/events/benchref.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>

#include <cstdint>
#include <semaphore>
#include <thread>

namespace plat::benchref {
namespace {

QEvent::Type MessageType()
{
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

struct Message : QEvent {
    Message(uintptr_t m, uintptr_t a, uintptr_t b, uintptr_t c, std::binary_semaphore* s)
        : QEvent(MessageType()), msg(m), p1(a), p2(b), p3(c), done(s) {}
    uintptr_t msg, p1, p2, p3;
    std::binary_semaphore* done;
};

// Reads the words as a toolkit handler would, so the compiler cannot drop
// the work.
struct Receiver : QObject {
    int count = 0;
    uintptr_t sum = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != MessageType())
            return QObject::event(e);
        auto* m = static_cast<Message*>(e);
        ++count;
        sum += m->msg + m->p1 + m->p2 + m->p3;
        if (m->done)
            m->done->release();
        return true;
    }
};

} // namespace

void QtPostDispatch(int count)
{
    Receiver r;
    for (int i = 0; i < count; ++i)
        QCoreApplication::postEvent(&r, new Message(1025, static_cast<uintptr_t>(i), 0, 0, nullptr));
    while (r.count < count)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtSendRoundTrips(int count)
{
    Receiver r;
    QEventLoop loop;
    std::thread worker([&] {
        std::binary_semaphore done{0};
        for (int i = 0; i < count; ++i) {
            QCoreApplication::postEvent(&r, new Message(1025, static_cast<uintptr_t>(i), 0, 0, &done));
            done.acquire();
        }
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

} // namespace plat::benchref
