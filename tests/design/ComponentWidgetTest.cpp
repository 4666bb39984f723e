// Forms designed in Qt Designer with the library's components on them, as a
// program loads them (TFormLoader, no plugin): the shipped example form
// connecting and showing values, the components' texts as the form stores
// them, bad texts, and stand-ins made by code.
#include "xelo/design/ComponentWidget.h"

#include "xelo/design/FormLoader.h"
#include "xelo/design/PalettePictures.h"
#include "xelo/dialogs/XeloGUIDlg.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/TypInfo.h"

#include "support/Expectations.h"
#include "support/QtScene.h"

#include <QBuffer>
#include <QFile>
#include <QMetaProperty>

namespace xelo::test {
namespace {

class ComponentWidgetTest : public QtScene {
 protected:
  ~ComponentWidgetTest() override { form_.reset(); }

  // Loads the form in `device`, keeping what load() made when a text does
  // not parse; the parser's message, or "".
  std::string Load(QIODevice&& device) {
    EXPECT_TRUE(device.open(QIODevice::ReadOnly));
    const std::string error = xelo::testing::MessageOf<EParserError>([&] { form_.reset(loader_.load(&device)); });
    if (!error.empty()) form_.reset(loader_.LastForm());
    return error;
  }

  // The form's two stand-ins; false when one is missing.
  bool FindStandIns() {
    serverWidget_ = form_->findChild<TXeloServerWidget*>("XeloServer1");
    guiWidget_ = form_->findChild<TXeloGUIWidget*>("XeloGUI1");
    return serverWidget_ != nullptr && guiWidget_ != nullptr;
  }

  static QString StandInXml(const char* cls, const char* name, const QString& text) {
    return QStringLiteral("<widget class=\"%1\" name=\"%2\"><property name=\"componentText\"><string>%3</string>"
                          "</property></widget>")
        .arg(QLatin1String(cls), QLatin1String(name), text.toHtmlEscaped());
  }

  TFormLoader loader_;
  std::unique_ptr<QWidget> form_;
  TXeloServerWidget* serverWidget_ = nullptr;
  TXeloGUIWidget* guiWidget_ = nullptr;
};

TEST_F(ComponentWidgetTest, TheExampleFormConnectsShowsValuesAndItsStoredTextsFollowTheComponents) {
  EXPECT_EQ(Load(QFile(QStringLiteral(XELO_EXAMPLES_DIR "/DesignedForm.ui"))), "");
  ASSERT_NE(form_, nullptr) << Utf8(loader_.errorString());
  ASSERT_TRUE(FindStandIns());

  // The binding component comes first in the file and still found its
  // server: the form's components are read together.
  qt::TForm* components = FormComponentsOf(form_.get());
  ASSERT_TRUE(components != nullptr && components->GetComponentCount() == 2);
  auto* server = dynamic_cast<TXeloServer*>(serverWidget_->LoadedComponent());
  auto* gui = dynamic_cast<TXeloGUI*>(guiWidget_->LoadedComponent());
  ASSERT_TRUE(server != nullptr && gui != nullptr);
  EXPECT_EQ(std::tuple(server->GetOwner(), gui->GetOPCServer(), gui->GetItems()->GetCount()),
            std::tuple(components, server, 3));

  // Stand-ins are no controls: hidden.
  EXPECT_TRUE(serverWidget_->isHidden() && guiWidget_->isHidden());

  auto* ramp = form_->findChild<QLineEdit*>("RampEdit");
  auto* text = form_->findChild<QLabel*>("TextLabel");
  auto* onOff = form_->findChild<QCheckBox*>("SwitchBox");
  ASSERT_TRUE(ramp != nullptr && text != nullptr && onOff != nullptr);
  form_->show();
  ASSERT_TRUE(WaitFor([&] { return !ramp->text().isEmpty() && !text->text().isEmpty(); }));
  TXeloItem* switchItem = FindXeloItem(server, "Device 1", "Channel 1.Device 1.Switch");
  ASSERT_NE(switchItem, nullptr);
  EXPECT_EQ(onOff->isChecked(), switchItem->GetValue().ToBool());
  EXPECT_TRUE(SaveScreenshot(*form_, "designed-form-loaded"));

  // The stored text follows the component, its name and its Qt properties.
  const QString serverText = serverWidget_->property("componentText").toString();
  EXPECT_TRUE(serverText.startsWith("object XeloServer1: TXeloServer") &&
              serverText.contains("ItemID = 'Channel 1.Device 1.Switch'") &&
              guiWidget_->ComponentText().contains("Control = 'SwitchBox'")) << Utf8(serverText);

  // Renaming the stand-in renames its component, and the references to it.
  serverWidget_->setObjectName("Plant");
  EXPECT_EQ(serverWidget_->Component().GetName(), "Plant");
  EXPECT_NE(Utf8(guiWidget_->ComponentText()).find("OPCServer = Plant"), std::string::npos);

  // Unloaded (a designer's delete), the component goes and the binding
  // component lets go of it; loaded again (an undo), it is back as it was.
  const std::string before = Utf8(serverWidget_->ComponentText());
  serverWidget_->Unload();
  EXPECT_TRUE(serverWidget_->LoadedComponent() == nullptr && gui->GetOPCServer() == nullptr);
  LoadFormComponents(form_.get());
  ASSERT_NE(serverWidget_->LoadedComponent(), nullptr);
  EXPECT_EQ(Utf8(serverWidget_->ComponentText()), before);

  // The component's own properties as Qt properties: live, and kept in the
  // stored text.
  ASSERT_TRUE(serverWidget_->setProperty("ConnectDelay", 750));
  EXPECT_EQ(GetOrdProp(serverWidget_->Component(), "ConnectDelay"), 750);
  EXPECT_NE(Utf8(serverWidget_->ComponentText()).find("ConnectDelay = 750"), std::string::npos);
}

TEST_F(ComponentWidgetTest, BadTextsAreRefusedAndEveryStandInStillHasItsComponent) {
  const QString server = QStringLiteral("object S: TXeloServer\n  ServerName = 'Xelo.Sim.1'\n  ConnectDelay = \nend");
  const QString gui = QStringLiteral(
      "object G: TXeloGUI\n  OPCServer = XeloServer1\n  Items = <\n    item\n      Control = 'Nowhere'\n"
      "    end\n    item\n      Control = 'Edit'\n      CtrlPropName = 'text'\n    end>\nend");
  QByteArray ui = (QStringLiteral("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"Form\">"
                                  "<widget class=\"QLineEdit\" name=\"Edit\"/>") +
                   StandInXml("xelo::TXeloServerWidget", "XeloServer1", server) +
                   StandInXml("xelo::TXeloGUIWidget", "XeloGUI1", gui) + QStringLiteral("</widget></ui>"))
                      .toUtf8();
  // The server's text does not parse: load() says so after making the
  // whole form, with an empty server in its place that the binding
  // component still finds; of its bindings, the one whose widget the form
  // has works.
  const std::string error = Load(QBuffer(&ui));
  EXPECT_NE(error.find("Syntax error on line 4"), std::string::npos) << error;
  ASSERT_NE(form_, nullptr);
  ASSERT_TRUE(FindStandIns() && serverWidget_->LoadedComponent() != nullptr);
  EXPECT_EQ(GetStrProp(serverWidget_->Component(), "ServerName"), "");
  auto& binding = static_cast<TXeloGUI&>(guiWidget_->Component());
  ASSERT_TRUE(binding.GetOPCServer() == &serverWidget_->Component() && binding.GetItems()->GetCount() == 2);
  EXPECT_EQ(binding.GetItems()->GetItem(1)->GetControl(), form_->findChild<QLineEdit*>("Edit"));

  // Set by code, the errors raise and the component keeps what it had.
  SetStrProp(serverWidget_->Component(), "ServerName", "Xelo.Sim.1");
  EXPECT_THROW(serverWidget_->SetComponentText(server), EParserError);
  EXPECT_THROW(serverWidget_->SetComponentText(QStringLiteral("object S: TXeloGUI\nend")), EReadError);
  EXPECT_EQ(GetStrProp(serverWidget_->Component(), "ServerName"), "Xelo.Sim.1");
}

TEST_F(ComponentWidgetTest, StandInsMadeByCodeLoadTogetherOnTheNextTurnOfTheLoop) {
  auto window = std::make_unique<QWidget>();
  auto* edit = Named(new QLineEdit(window.get()), "Edit");
  auto* gui = Named(new TXeloGUIWidget(window.get()), "Binding");
  gui->SetComponentText(QStringLiteral(
      "object Binding: TXeloGUI\n  OPCServer = XeloServer1\n  Items = <\n    item\n      Control = 'Edit'\n"
      "      CtrlPropName = 'text'\n      OPCGroup = 'G'\n      OPCItem = 'Static.Int32'\n    end>\nend"));
  auto* server = new TXeloServerWidget(window.get());  // unnamed: named as a designer would
  server->SetComponentText(QStringLiteral(
      "object S: TXeloServer\n  ServerName = 'Xelo.Sim.1'\n  OPCGroups = <\n    item\n      Name = 'G'\n"
      "      UpdateRate = 50\n      OPCItems = <\n        item\n          ItemID = 'Static.Int32'\n        end>\n"
      "    end>\n  Active = True\nend"));
  // Until then the Qt properties show and change the kept texts (a design
  // host reads them while it is still making the form), defaults included.
  EXPECT_EQ(gui->property("OPCServer").toString(), QStringLiteral("XeloServer1"));
  EXPECT_EQ(server->property("ConnectDelay").toInt(), 300);
  server->setProperty("ConnectDelay", 120);
  EXPECT_EQ(FormComponentsOf(window.get()), nullptr);
  QTest::qWait(1);
  ASSERT_NE(gui->LoadedComponent(), nullptr);
  EXPECT_EQ(std::tuple(Utf8(server->objectName()), GetOrdProp(server->Component(), "ConnectDelay")),
            std::tuple("XeloServer1", 120));
  ASSERT_TRUE(WaitFor([&] { return !edit->text().isEmpty(); }));

  // A stand-in takes its component with it; the window takes the rest.
  qt::TForm* components = FormComponentsOf(window.get());
  delete gui;
  EXPECT_EQ(components->GetComponentCount(), 1);
  window.reset();
  Application().ProcessMessages();
  EXPECT_EQ(sim::SimulationControl::Live().servers, 0u);
}

}  // namespace
}  // namespace xelo::test
