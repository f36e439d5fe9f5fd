// Both controls placed and set up by a Qt Designer window definition, with a handler connected
// by name.

#include "ui_ControlsForm.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

class ControlsForm : public QWidget {
    Q_OBJECT
public:
    ControlsForm() { ui.setupUi(this); }
    Ui::ControlsForm ui;
    int clicks = 0;

private slots:
    void on_IVButton1_clicked() { ++clicks; }
};

}  // namespace

TEST(Form, WindowDefinitionSetsThePropertiesAndConnectsHandlersByName)
{
    ControlsForm form;
    EXPECT_EQ(form.ui.IVTileImage1->graphic().width(), 256);
    EXPECT_TRUE(form.ui.IVTileImage1->border());
    TIVButton* button = form.ui.IVButton1;
    EXPECT_EQ(button->caption(), QStringLiteral("Update"));
    EXPECT_EQ(button->font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_TRUE(button->font().bold());
    EXPECT_EQ(button->fontColor(), QColor(255, 255, 255));
    EXPECT_EQ(button->upGraphic().width(), 91);
    EXPECT_EQ(button->downGraphic().width(), 91);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_FALSE(form.ui.IVButton2->isVisible());
    QTRY_COMPARE(button->size(), QSize(91, 34));
    QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(20, 50));
    EXPECT_EQ(form.clicks, 1);
}

#include "FormTest.moc"
