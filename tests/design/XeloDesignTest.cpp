// The library's own registrations as a design host meets them: the "OPC"
// palette page, the server's context menu and the ServerName ellipsis,
// both opening the inspector against the simulation server, the binding
// component's context menu opening the binding table, components created
// for design, and the palette pictures.
#include "xelo/design/XeloDesign.h"

#include "xelo/design/DesignRegistry.h"
#include "xelo/design/Designer.h"
#include "xelo/design/PalettePictures.h"
#include "xelo/dialogs/XeloInspectorDlg.h"
#include "xelo/framework/Registry.h"
#include "xelo/framework/SysUtils.h"

#include "support/Expectations.h"
#include "support/QtScene.h"
#include "support/ScratchDirectory.h"

#include <QSet>

#include "design/CountingDesigner.h"

#include <algorithm>

namespace xelo::test {
namespace {

using sim::kProgIdSimFlat;

class XeloDesignTest : public QtScene {
 protected:
  void SetUp() override {
    // The binding table reads remembered property names: never the user's.
    SetSettingsDirectoryForTesting(settings_.Path());
    RegisterXeloDesign();
    MakeServer(false);
  }
  void TearDown() override { SetSettingsDirectoryForTesting(std::string()); }

  // Scripts the inspector that `open` shows: checks it works on the test's
  // server, types `serverName` into its server box and closes it.
  void InInspector(const std::string& serverName) {
    Drive<TXeloDlgExplorer>([this, serverName, before = designer_.modified](TXeloDlgExplorer& inspector) {
      EXPECT_EQ(inspector.Server(), server_.get());
      EXPECT_EQ(designer_.modified, before) << "reported only after the inspector closed";
      inspector.ServerCombo->setEditText(QString::fromStdString(serverName));
      ++inspectorsShown_;
    });
  }

  xelo::testing::ScratchDirectory settings_;
  CountingDesigner designer_;
  int inspectorsShown_ = 0;
};

TEST_F(XeloDesignTest, TheEditorsOpenTheInspectorAndTheTableMarkingTheFormModifiedAndTheOpcPageHoldsThePicturedComponentsOnce) {
  std::unique_ptr<TComponentEditor> editor = GetComponentEditor(*server_, designer_);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(std::tuple(editor->GetVerbCount(), editor->GetVerb(0)), std::tuple(1, "OPC Inspector..."));
  editor->ExecuteVerb(1);
  EXPECT_EQ(designer_.modified, 0);

  InInspector(kProgIdSimFlat);
  editor->ExecuteVerb(0);
  EXPECT_EQ(std::tuple(inspectorsShown_, designer_.modified, server_->GetServerName()), std::tuple(1, 1, kProgIdSimFlat));

  // The editor of another class's component refuses before it opens anything.
  TXeloGUI gui(nullptr);
  EXPECT_THROW(FindComponentEditor(TXeloServer::StaticClass())(gui, designer_)->ExecuteVerb(0), EInvalidCast);
  EXPECT_EQ(std::pair(inspectorsShown_, designer_.modified), std::pair(1, 1));

  // The ServerName ellipsis does the same for the property.
  std::unique_ptr<TStringProperty> ellipsis = GetPropertyEditor({server_.get()}, "ServerName", designer_);
  ASSERT_NE(ellipsis, nullptr);
  EXPECT_EQ(ellipsis->GetAttributes(), TPropertyAttributes{paDialog});
  InInspector("Typed.Server.7");
  ellipsis->Edit();
  EXPECT_EQ(std::tuple(inspectorsShown_, designer_.modified, server_->GetServerName() + " " + ellipsis->GetValue()),
            std::tuple(2, 2, "Typed.Server.7 Typed.Server.7"));
  // Registered for the server's class, the editor refuses any other object.
  EXPECT_THROW(FindPropertyEditor(TXeloServer::StaticClass(), "ServerName")(
                   {&gui}, *GetPropInfo(TXeloServer::StaticClass(), "ServerName"), designer_),
               EPropertyError);

  // The binding editor's one verb opens the table: the table is made, the
  // row of the edit assigned, and the table closed: a binding, and the form
  // reported modified once.
  QtForm window;
  QLineEdit* edit = window.Add<QLineEdit>("Edit1");
  TXeloGUI* bound = window.gui;  // refers to the form's server
  std::unique_ptr<TComponentEditor> bindingEditor = GetComponentEditor(*bound, designer_);
  ASSERT_TRUE(bindingEditor != nullptr && bindingEditor->GetVerb(0) == "OPC to GUI...");
  WhenModalShows([&](QDialog& table) {
    QTreeWidgetItem* row = Find(table.findChild<QTreeWidget*>("ListView"), "Edit1");
    row->setText(2, "G");
    row->setText(3, "Static.String");
    EXPECT_EQ(designer_.modified, 2);
    table.reject();
  });
  bindingEditor->ExecuteVerb(0);
  EXPECT_EQ(designer_.modified, 3);
  EXPECT_TRUE(bound->GetItems()->GetCount() == 1 && bound->GetItems()->GetItem(0)->GetControl() == edit);

  // Refused by the table: the message passes on, nothing is reported.
  TXeloGUI withoutServer(nullptr);
  EXPECT_EQ(xelo::testing::MessageOf<Exception>([&] { GetComponentEditor(withoutServer, designer_)->ExecuteVerb(0); }),
            "first assign property opcserver");
  EXPECT_THROW(FindComponentEditor(TXeloGUI::StaticClass())(*server_, designer_)->ExecuteVerb(0), EInvalidCast);
  EXPECT_EQ(designer_.modified, 3);

  // The "OPC" page holds the three components once, in order, each with a
  // picture of at most sixteen colours of its name.
  RegisterXeloDesign();
  RegisterComponents("OPC", {TXeloGUI::StaticClass(), TXeloServer::StaticClass()});
  EXPECT_EQ(GetPaletteClasses("OPC"), (std::vector<TClass>{TXeloServer::StaticClass(), TxeloServerBrowser::StaticClass(),
                                                           TXeloGUI::StaticClass()}));
  const std::vector<std::string> pages = GetPalettePages();
  EXPECT_EQ(std::count(pages.begin(), pages.end(), "OPC"), 1);
  EXPECT_FALSE(FindComponentEditor(TxeloServerBrowser::StaticClass()));
  for (TClass cls : GetPaletteClasses("OPC")) {
    SCOPED_TRACE(cls->ClassName());
    const QImage image = PaletteImage(cls->ClassName());
    ASSERT_EQ(image.size(), QSize(32, 32));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) != 0) colours.insert(image.pixel(x, y));
    EXPECT_TRUE(colours.size() >= 4 && colours.size() <= 16) << colours.size() << " colours: a picture, not a blank";
    EXPECT_EQ(PalettePicture(cls->ClassName()).toImage().convertToFormat(QImage::Format_ARGB32),
              image.convertToFormat(QImage::Format_ARGB32));
    // Larger, to look at.
    EXPECT_TRUE(QDir().mkpath(QStringLiteral(XELO_ARTIFACTS_DIR)) &&
                image.scaled(128, 128).save(QStringLiteral(XELO_ARTIFACTS_DIR "/palette-") +
                                            QString::fromStdString(UpperCase(cls->ClassName())) + ".png"));
  }
  EXPECT_TRUE(PaletteImage("TXeloBrowser").isNull()) << "not on the palette";
  EXPECT_FALSE(PaletteImage("txeloserver").isNull());
}

}  // namespace
}  // namespace xelo::test
