#include "dialogs/dialogsupport.h"
#include "tests/dialogs/messagerecorder.h"

#include <QLineEdit>
#include <QTest>

#include <limits>

using OptUnsigned = std::optional<std::uint32_t>;
using OptSigned = std::optional<std::int32_t>;
Q_DECLARE_METATYPE(OptUnsigned)
Q_DECLARE_METATYPE(OptSigned)

class TestDialogSupport final : public QObject
{
    Q_OBJECT

private slots:
    // As the application does, so that standard buttons read Korean.
    void initTestCase() { QVERIFY(installQtKoreanTranslations()); }

    void parsesUnsignedFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptUnsigned>("expected");
        const OptUnsigned none;
        const OptUnsigned max = std::numeric_limits<std::uint32_t>::max();
        QTest::newRow("plain") << QStringLiteral("30") << OptUnsigned(30);
        QTest::newRow("zero") << QStringLiteral("0") << OptUnsigned(0);
        QTest::newRow("blanks and tabs around") << QStringLiteral(" \t30 \t") << OptUnsigned(30);
        QTest::newRow("plus sign") << QStringLiteral("+7") << OptUnsigned(7);
        QTest::newRow("empty") << QString() << none;
        QTest::newRow("blanks only") << QStringLiteral("   ") << none;
        QTest::newRow("sign only") << QStringLiteral("+") << none;
        QTest::newRow("minus") << QStringLiteral("-5") << none;
        QTest::newRow("letters after") << QStringLiteral("12x") << none;
        QTest::newRow("inner blank") << QStringLiteral("1 2") << none;
        QTest::newRow("newline is not a blank") << QStringLiteral("12\n") << none;
        QTest::newRow("full-width digits") << QStringLiteral("１２") << none;
        QTest::newRow("largest") << QStringLiteral("4294967295") << max;
        QTest::newRow("one past saturates") << QStringLiteral("4294967296") << max;
        QTest::newRow("far past saturates") << QString(40, QLatin1Char('9')) << max;
        // Only the first 63 characters are read.
        QTest::newRow("junk at 64 ignored")
            << QStringLiteral("10") + QString(61, QLatin1Char(' ')) + QStringLiteral("x")
            << OptUnsigned(10);
        QTest::newRow("junk at 63 counts")
            << QStringLiteral("10") + QString(60, QLatin1Char(' ')) + QStringLiteral("x") << none;
    }

    void parsesUnsignedFields()
    {
        QFETCH(QString, text);
        QFETCH(OptUnsigned, expected);
        QCOMPARE(parseUnsignedField(text), expected);
    }

    void parsesSignedFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptSigned>("expected");
        const OptSigned none;
        QTest::newRow("plain") << QStringLiteral(" 60 ") << OptSigned(60);
        QTest::newRow("negative") << QStringLiteral("-5") << OptSigned(-5);
        QTest::newRow("double sign") << QStringLiteral("--5") << none;
        QTest::newRow("empty") << QString() << none;
        QTest::newRow("range edge") << QStringLiteral("100000001") << OptSigned(100000001);
        QTest::newRow("saturates high")
            << QStringLiteral("2147483648") << OptSigned(std::numeric_limits<std::int32_t>::max());
        QTest::newRow("saturates low") << QStringLiteral("-99999999999")
                                       << OptSigned(std::numeric_limits<std::int32_t>::min());
        QTest::newRow("decimal point") << QStringLiteral("10.5") << none;
    }

    void parsesSignedFields()
    {
        QFETCH(QString, text);
        QFETCH(OptSigned, expected);
        QCOMPARE(parseSignedField(text), expected);
    }

    void digitsOnlyFieldRejectsOtherKeys()
    {
        QLineEdit edit;
        edit.setValidator(createDigitsOnlyValidator(&edit));
        QTest::keyClicks(&edit, QStringLiteral("a1-2 3.4+"));
        // A full-width digit arrives as text only; it is not an ASCII digit.
        QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_unknown, QStringLiteral("５"),
                            Qt::NoModifier);
        QCOMPARE(edit.text(), QStringLiteral("1234"));
    }

    void realBoxIsModalCaptionedOrmixWithOk_data()
    {
        QTest::addColumn<int>("icon");
        QTest::newRow("own message, no icon") << int(QMessageBox::NoIcon);
        QTest::newRow("stock message, warning") << int(QMessageBox::Warning);
    }

    void realBoxIsModalCaptionedOrmixWithOk()
    {
        QFETCH(int, icon);
        SeenBox seen;
        closeNextMessageBox(seen);
        // Looks like markup, must show as typed.
        const QString text = QStringLiteral("<b>/home/a&amp;b</b>");
        showOrmixMessage(nullptr, text, QMessageBox::Icon(icon));
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QStringLiteral("Ormix"));
        QCOMPARE(seen.text, text);
        QCOMPARE(int(seen.icon), icon);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(seen.okText, QStringLiteral("확인"));
        QVERIFY(seen.modal);
        QCOMPARE(seen.format, Qt::PlainText);
    }

    void hooksNestAndRestore()
    {
        QStringList outer;
        const MessageBoxHook before = setMessageBoxHook(
            [&outer](QWidget *, const QString &text, QMessageBox::Icon) { outer.append(text); });
        QVERIFY(!before);
        {
            MessageRecorder inner;
            showOrmixMessage(nullptr, QStringLiteral("one"));
            QCOMPARE(inner.texts(), QStringList{QStringLiteral("one")});
        }
        showOrmixMessage(nullptr, QStringLiteral("two"));
        QCOMPARE(outer, QStringList{QStringLiteral("two")});
        QVERIFY(setMessageBoxHook({}));
    }

    void failedFieldGetsFocusAndSelection()
    {
        QWidget window;
        QLineEdit other(&window);
        QLineEdit field(&window);
        field.setText(QStringLiteral("12x"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        other.setFocus();
        MessageRecorder recorder;
        failFieldExchange(&field, QStringLiteral("정수를 입력하세요."));
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("정수를 입력하세요.")});
        QCOMPARE(recorder.messages().at(0).icon, QMessageBox::Warning);
        QCOMPARE(recorder.messages().at(0).parent, &window);
        QCOMPARE(window.focusWidget(), &field);
        QCOMPARE(field.selectedText(), QStringLiteral("12x"));
    }
};

QTEST_MAIN(TestDialogSupport)
#include "tst_dialogsupport.moc"
