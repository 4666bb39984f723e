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
#include "xelo/framework/Application.h"
#include "xelo/framework/Registry.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/Form.h"

#include "support/QtTesting.h"
#include "support/ScratchDirectory.h"
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <QSet>

#include "design/CountingDesigner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace xelo::test {
namespace {

class XeloDesignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The binding table reads remembered property names: never the user's.
    SetSettingsDirectoryForTesting(settings_.Path());
    previousUi_ = Application().SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
    sim::SimulationControl::Reset();
    RegisterXeloDesign();
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetServer(sim::kProgIdSim);
  }
  void TearDown() override {
    server_.reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
    SetSettingsDirectoryForTesting(std::string());
  }

  // Scripts the inspector that `open` shows: checks it works on the test's
  // server, types `serverName` into its server box and closes it.
  void InInspector(const std::string& serverName) {
    WhenModalShows([this, serverName](QDialog& dialog) {
      auto* inspector = qobject_cast<TXeloDlgExplorer*>(&dialog);
      ASSERT_NE(inspector, nullptr);
      EXPECT_EQ(inspector->Server(), server_.get());
      EXPECT_EQ(designer_.modified, 0) << "reported only after the inspector closed";
      auto* combo = dialog.findChild<QComboBox*>("ServerCombo");
      ASSERT_NE(combo, nullptr);
      combo->setEditText(QString::fromStdString(serverName));
      ++inspectorsShown_;
      dialog.reject();
    });
  }

  xelo::testing::ScratchDirectory settings_;
  std::unique_ptr<IUserInterface> previousUi_;
  std::unique_ptr<TXeloServer> server_;
  CountingDesigner designer_;
  int inspectorsShown_ = 0;
};

TEST_F(XeloDesignTest, TheOpcPageHoldsTheThreeComponentsOnceAndInOrder) {
  RegisterXeloDesign();
  RegisterComponents("OPC", {TXeloGUI::StaticClass(), TXeloServer::StaticClass()});
  const std::vector<TClass> expected = {TXeloServer::StaticClass(), TxeloServerBrowser::StaticClass(),
                                        TXeloGUI::StaticClass()};
  EXPECT_EQ(GetPaletteClasses("OPC"), expected);
  const std::vector<std::string> pages = GetPalettePages();
  EXPECT_EQ(std::count(pages.begin(), pages.end(), "OPC"), 1);
  // A host's lookups: editors for the server and the binding component, none
  // for the server browser, one property editor.
  EXPECT_TRUE(FindComponentEditor(TXeloServer::StaticClass()));
  EXPECT_TRUE(FindComponentEditor(TXeloGUI::StaticClass()));
  EXPECT_FALSE(FindComponentEditor(TxeloServerBrowser::StaticClass()));
  EXPECT_TRUE(FindPropertyEditor(TXeloServer::StaticClass(), "ServerName"));
  EXPECT_FALSE(FindPropertyEditor(TXeloServer::StaticClass(), "ComputerName"));
}

TEST_F(XeloDesignTest, TheServerEditorsOneVerbOpensTheInspectorAndMarksTheFormModified) {
  std::unique_ptr<TComponentEditor> editor = GetComponentEditor(*server_, designer_);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->GetVerbCount(), 1);
  EXPECT_EQ(editor->GetVerb(0), "OPC Inspector...");
  EXPECT_EQ(editor->GetVerb(1), "");
  editor->ExecuteVerb(1);
  EXPECT_EQ(designer_.modified, 0);

  InInspector(sim::kProgIdSimFlat);
  editor->ExecuteVerb(0);
  EXPECT_EQ(inspectorsShown_, 1);
  EXPECT_EQ(designer_.modified, 1);
  EXPECT_EQ(server_->GetServerName(), sim::kProgIdSimFlat);

  // The editor of another class's component refuses before it opens anything.
  TXeloGUI gui(nullptr);
  const TComponentEditorFactory factory = FindComponentEditor(TXeloServer::StaticClass());
  EXPECT_THROW(factory(gui, designer_)->ExecuteVerb(0), EInvalidCast);
  EXPECT_EQ(designer_.modified, 1);
  EXPECT_EQ(inspectorsShown_, 1);
}

TEST_F(XeloDesignTest, TheBindingEditorsOneVerbOpensTheTableUnlessTheComponentIsRefused) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  edit->setObjectName("Edit1");
  qt::TForm form(&window);
  auto* server = new TXeloServer(&form);
  server->SetServer(sim::kProgIdSim);
  server->GetOPCGroups()->Add("G")->GetOPCItems()->AddItem("Static.String");
  auto* gui = new TXeloGUI(&form);  // refers to the form's server
  std::unique_ptr<TComponentEditor> editor = GetComponentEditor(*gui, designer_);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->GetVerbCount(), 1);
  EXPECT_EQ(editor->GetVerb(0), "OPC to GUI...");

  // The table is made, the row of the edit assigned, and the table closed:
  // a binding, and the form reported modified once.
  WhenModalShows([&](QDialog& table) {
    auto* rows = table.findChild<QTreeWidget*>("ListView");
    ASSERT_NE(rows, nullptr);
    const QList<QTreeWidgetItem*> found = rows->findItems("Edit1", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    found.first()->setText(2, "G");
    found.first()->setText(3, "Static.String");
    EXPECT_EQ(designer_.modified, 0);
    table.reject();
  });
  editor->ExecuteVerb(0);
  EXPECT_EQ(designer_.modified, 1);
  ASSERT_EQ(gui->GetItems()->GetCount(), 1);
  EXPECT_EQ(gui->GetItems()->GetItem(0)->GetControl(), edit);

  // Refused by the table: the message passes on, nothing is reported.
  TXeloGUI withoutServer(nullptr);
  try {
    GetComponentEditor(withoutServer, designer_)->ExecuteVerb(0);
    ADD_FAILURE() << "refused";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "first assign property opcserver");
  }
  TXeloGUI notOnAForm(nullptr);
  notOnAForm.SetOPCServer(server_.get());
  EXPECT_THROW(GetComponentEditor(notOnAForm, designer_)->ExecuteVerb(0), Exception);
  EXPECT_THROW(FindComponentEditor(TXeloGUI::StaticClass())(*server_, designer_)->ExecuteVerb(0), EInvalidCast);
  EXPECT_EQ(designer_.modified, 1);
}

TEST_F(XeloDesignTest, TheServerNameEllipsisPutsTheNameTypedInTheInspectorIntoTheProperty) {
  std::unique_ptr<TStringProperty> editor = GetPropertyEditor({server_.get()}, "ServerName", designer_);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->GetAttributes(), TPropertyAttributes{paDialog});
  EXPECT_EQ(editor->GetValue(), sim::kProgIdSim);

  InInspector("Typed.Server.7");
  editor->Edit();
  EXPECT_EQ(inspectorsShown_, 1);
  EXPECT_EQ(server_->GetServerName(), "Typed.Server.7");
  EXPECT_EQ(editor->GetValue(), "Typed.Server.7");
  EXPECT_EQ(designer_.modified, 1);

  // Registered for the server's class, the editor refuses any other object.
  TXeloGUI gui(nullptr);
  const TStringPropertyFactory factory = FindPropertyEditor(TXeloServer::StaticClass(), "ServerName");
  const TPropInfo& prop = *GetPropInfo(TXeloServer::StaticClass(), "ServerName");
  EXPECT_THROW(factory({&gui}, prop, designer_), EPropertyError);
  EXPECT_EQ(designer_.modified, 1);
}

TEST_F(XeloDesignTest, ABindingComponentCreatedForDesignOnlyStoresItsServer) {
  TComponent form(nullptr);
  auto* gui = dynamic_cast<TXeloGUI*>(CreateForDesign("TXeloGUI", form));
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(gui->GetName(), "XeloGUI1");
  gui->SetOPCServer(server_.get());
  EXPECT_EQ(gui->GetOPCServer(), server_.get());
  EXPECT_FALSE(server_->GetOnDatachange()) << "a designer's component hooks nothing";

  // At run time the same call hooks it.
  TXeloGUI running(&form);
  running.SetOPCServer(server_.get());
  EXPECT_TRUE(server_->GetOnDatachange());
}

TEST_F(XeloDesignTest, EachRegisteredClassHasASixteenColourPictureOfItsName) {
  for (TClass cls : GetPaletteClasses("OPC")) {
    SCOPED_TRACE(cls->ClassName());
    const QImage image = PaletteImage(cls->ClassName());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(32, 32));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (qAlpha(image.pixel(x, y)) != 0) colours.insert(image.pixel(x, y));
      }
    }
    EXPECT_GE(colours.size(), 4) << "a picture, not a blank";
    EXPECT_LE(colours.size(), 16);
    const QPixmap picture = PalettePicture(cls->ClassName());
    EXPECT_EQ(picture.toImage().convertToFormat(QImage::Format_ARGB32), image.convertToFormat(QImage::Format_ARGB32));
    // Larger, to look at.
    const QString folder = QStringLiteral(XELO_ARTIFACTS_DIR);
    QDir().mkpath(folder);
    EXPECT_TRUE(image.scaled(128, 128).save(folder + "/palette-" + QString::fromStdString(UpperCase(cls->ClassName())) +
                                            ".png"));
  }
  EXPECT_TRUE(PaletteImage("TXeloBrowser").isNull()) << "not on the palette";
  EXPECT_FALSE(PaletteImage("txeloserver").isNull());
}

}  // namespace
}  // namespace xelo::test
