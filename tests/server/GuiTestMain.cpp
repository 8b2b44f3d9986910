#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

// Widget tests need a QApplication (offscreen platform in ctest).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tallvero-Test"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return RUN_ALL_TESTS();
}
