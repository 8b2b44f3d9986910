#include <QCoreApplication>
#include <QLocale>

#include <gtest/gtest.h>

// QtSql and QStandardPaths want an application object; tests pin the locale.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tallvero-Test"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return RUN_ALL_TESTS();
}
