#include "app/PacedWait.h"
#include "app/contract/Error.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Counts the mouse moves it is given.
class MoveCounter final : public QWidget {
public:
    int moves = 0;

protected:
    void mouseMoveEvent(QMouseEvent*) override { ++moves; }
};

TEST(PacedWait, ZeroOrLessReturnsAtOnceWithoutHandlingEvents) {
    app::QtPacedWaiter waiter;
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    waiter.pacedWait(0);
    waiter.pacedWait(-5);
    waiter.pacedWait(INT32_MIN);
    EXPECT_LT(clock.elapsed(), 50);
    EXPECT_FALSE(fired);
    QApplication::processEvents();
    EXPECT_TRUE(fired);
}

TEST(PacedWait, LastsItsTimeWhileEventsAreHandled) {
    app::QtPacedWaiter waiter;
    int fired = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++fired; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    waiter.pacedWait(300);
    const qint64 took = clock.elapsed();
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 3000);
    EXPECT_GE(fired, 3); // the window went on working meanwhile
}

TEST(PacedWait, ContinuousMouseMovementDoesNotLengthenIt) {
    MoveCounter widget;
    widget.resize(200, 200);
    widget.setMouseTracking(true);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    int x = 0;
    QTimer mover; // a mouse that never rests
    QObject::connect(&mover, &QTimer::timeout, [&] {
        for (int i = 0; i < 20; ++i) {
            x = (x + 1) % 200;
            QCoreApplication::postEvent(&widget, new QMouseEvent(QEvent::MouseMove, QPointF(x, 50),
                                                                 widget.mapToGlobal(QPointF(x, 50)),
                                                                 Qt::NoButton, Qt::NoButton, Qt::NoModifier));
        }
    });
    mover.start(1);

    app::QtPacedWaiter waiter;
    QElapsedTimer clock;
    clock.start();
    waiter.pacedWait(300);
    const qint64 took = clock.elapsed();
    mover.stop();
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 1500);
    EXPECT_GT(widget.moves, 100);
}

TEST(PacedWait, AbortEndsTheRunningWaitAndEveryLaterOneUntilReset) {
    app::QtPacedWaiter waiter;
    QTimer::singleShot(50, [&] { waiter.abort(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(waiter.pacedWait(5000), toolkit::Cancelled);
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_TRUE(waiter.aborted());
    EXPECT_THROW(waiter.pacedWait(100), toolkit::Cancelled);
    EXPECT_THROW(waiter.pacedWait(0), toolkit::Cancelled);

    waiter.reset();
    clock.restart();
    EXPECT_NO_THROW(waiter.pacedWait(50));
    EXPECT_GE(clock.elapsed(), 50);
}

TEST(PacedWait, AbortReachesAWaitNestedInAnother) {
    app::QtPacedWaiter waiter;
    bool innerCancelled = false;
    QTimer::singleShot(20, [&] {
        QTimer::singleShot(30, [&] { waiter.abort(); });
        try {
            waiter.pacedWait(5000);
        } catch (const toolkit::Cancelled&) {
            innerCancelled = true;
        }
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(waiter.pacedWait(5000), toolkit::Cancelled);
    EXPECT_TRUE(innerCancelled);
    EXPECT_LT(clock.elapsed(), 2500);
}

} // namespace
