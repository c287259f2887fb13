#include "app/ids.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <memory>

namespace {

TEST(Ids, CopiesShareTheObjectAndADeletedObjectReadsAsNone) {
    EXPECT_EQ(ids().description(), "(null)");
    EXPECT_EQ(ids(nullptr).object(), nullptr);

    auto button = std::make_unique<QPushButton>();
    button->setObjectName(QString::fromUtf8("okÄ"));
    ids held(button.get());
    EXPECT_EQ(held.description(), "QPushButton(ok\xC3\x84)");
    ids copy(held);
    ids assigned;
    assigned = held;
    assigned = assigned;
    EXPECT_EQ(copy.object(), button.get());
    EXPECT_EQ(assigned.object(), button.get());
    QObject other;
    assigned = ids(&other);
    EXPECT_EQ(assigned.description(), "QObject()");
    EXPECT_EQ(held.object(), button.get());

    button.reset();
    EXPECT_EQ(held.object(), nullptr);
    EXPECT_EQ(copy.description(), "(null)");
}

}  // namespace
