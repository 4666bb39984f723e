// Forms designed in Qt Designer with the library's components on them, as a
// program loads them (TFormLoader, no plugin): the shipped example form
// connecting and showing values, the components' texts as the form stores
// them, bad texts, and stand-ins made by code.
#include "xelo/design/ComponentWidget.h"

#include "xelo/design/FormLoader.h"
#include "xelo/design/PalettePictures.h"
#include "xelo/dialogs/XeloGUIDlg.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/Form.h"

#include "support/QtTesting.h"
#include "servers/simulation/SimulationControl.h"

#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace xelo::test {
namespace {

using namespace std::chrono_literals;

class ComponentWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousUi_ = Application().SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
    sim::SimulationControl::Reset();
  }
  void TearDown() override {
    form_.reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  void LoadExample() {
    QFile file(QStringLiteral(XELO_EXAMPLES_DIR "/DesignedForm.ui"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    form_.reset(loader_.load(&file));
    ASSERT_NE(form_, nullptr) << Utf8(loader_.errorString());
  }

  // Loads a form whose body (inside the top widget) is `widgets`.
  void LoadForm(const QString& widgets) {
    QByteArray ui = QStringLiteral("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"Form\">%1</widget></ui>")
                        .arg(widgets)
                        .toUtf8();
    QBuffer buffer(&ui);
    buffer.open(QIODevice::ReadOnly);
    try {
      form_.reset(loader_.load(&buffer));
    } catch (...) {
      form_.reset(loader_.LastForm());
      throw;
    }
  }

  template <class T>
  T* StandIn(const char* name) {
    auto* widget = form_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  static QString StandInXml(const char* cls, const char* name, const QString& text) {
    return QStringLiteral("<widget class=\"%1\" name=\"%2\"><property name=\"componentText\"><string>%3</string>"
                          "</property></widget>")
        .arg(QLatin1String(cls), QLatin1String(name), text.toHtmlEscaped());
  }

  TFormLoader loader_;
  std::unique_ptr<QWidget> form_;
  std::unique_ptr<IUserInterface> previousUi_;
};

TEST_F(ComponentWidgetTest, TheExampleFormConnectsAndItsWidgetsShowValues) {
  LoadExample();
  auto* serverWidget = StandIn<TXeloServerWidget>("XeloServer1");
  auto* guiWidget = StandIn<TXeloGUIWidget>("XeloGUI1");
  ASSERT_TRUE(serverWidget != nullptr && guiWidget != nullptr);

  // The binding component comes first in the file and still found its
  // server: the form's components are read together.
  qt::TForm* components = FormComponentsOf(form_.get());
  ASSERT_NE(components, nullptr);
  EXPECT_EQ(components->GetComponentCount(), 2);
  auto* server = dynamic_cast<TXeloServer*>(serverWidget->LoadedComponent());
  auto* gui = dynamic_cast<TXeloGUI*>(guiWidget->LoadedComponent());
  ASSERT_TRUE(server != nullptr && gui != nullptr);
  EXPECT_EQ(server->GetOwner(), components);
  EXPECT_TRUE(server->GetActive());
  EXPECT_EQ(gui->GetOPCServer(), server);
  EXPECT_EQ(gui->GetItems()->GetCount(), 3);
  EXPECT_EQ(Utf8(guiWidget->OPCServer()), "XeloServer1");

  // Stand-ins are no controls: hidden, and not offered for binding.
  EXPECT_TRUE(serverWidget->isHidden());
  EXPECT_TRUE(guiWidget->isHidden());
  for (QWidget* control : FormControls(*form_)) EXPECT_FALSE(qt::IsComponentStandIn(*control)) << Utf8(control->objectName());
  EXPECT_EQ(FormControls(*form_).size(), 6u);

  auto* ramp = form_->findChild<QLineEdit*>("RampEdit");
  auto* text = form_->findChild<QLabel*>("TextLabel");
  auto* onOff = form_->findChild<QCheckBox*>("SwitchBox");
  ASSERT_TRUE(ramp != nullptr && text != nullptr && onOff != nullptr);
  form_->show();
  ASSERT_TRUE(Application().ProcessMessagesUntil([&] { return !ramp->text().isEmpty() && !text->text().isEmpty(); }, 5s));
  const QString first = ramp->text();
  ASSERT_TRUE(Application().ProcessMessagesUntil([&] { return ramp->text() != first; }, 5s)) << "the ramp moves";
  TXeloItem* switchItem = server->GetOPCGroups()->GetOPCGroup("Device 1")->GetOPCItems()->LocateOPCItem(
      "Channel 1.Device 1.Switch");
  ASSERT_NE(switchItem, nullptr);
  EXPECT_EQ(onOff->isChecked(), switchItem->GetValue().ToBool());
  EXPECT_TRUE(SaveScreenshot(*form_, "designed-form-loaded"));
}

TEST_F(ComponentWidgetTest, TheStoredTextFollowsTheComponentItsNameAndItsQtProperties) {
  LoadExample();
  auto* serverWidget = StandIn<TXeloServerWidget>("XeloServer1");
  auto* guiWidget = StandIn<TXeloGUIWidget>("XeloGUI1");
  ASSERT_TRUE(serverWidget != nullptr && guiWidget != nullptr);
  const std::string serverText = Utf8(serverWidget->property("componentText").toString());
  EXPECT_EQ(serverText.rfind("object XeloServer1: TXeloServer", 0), 0u) << serverText;
  EXPECT_NE(serverText.find("ServerName = 'Xelo.Sim.1'"), std::string::npos) << serverText;
  EXPECT_NE(serverText.find("ItemID = 'Channel 1.Device 1.Switch'"), std::string::npos) << serverText;
  const std::string guiText = Utf8(guiWidget->ComponentText());
  EXPECT_NE(guiText.find("OPCServer = XeloServer1"), std::string::npos) << guiText;
  EXPECT_NE(guiText.find("Control = 'SwitchBox'"), std::string::npos) << guiText;

  // Renaming the stand-in renames its component, and the references to it.
  serverWidget->setObjectName("Plant");
  EXPECT_EQ(serverWidget->Component().GetName(), "Plant");
  EXPECT_NE(Utf8(guiWidget->ComponentText()).find("OPCServer = Plant"), std::string::npos);
  EXPECT_EQ(Utf8(guiWidget->property("OPCServer").toString()), "Plant");

  // Unloaded (a designer's delete), the component goes and the binding
  // component lets go of it; loaded again (an undo), it is back as it was.
  auto* gui = static_cast<TXeloGUI*>(guiWidget->LoadedComponent());
  const std::string before = Utf8(serverWidget->ComponentText());
  serverWidget->Unload();
  EXPECT_EQ(serverWidget->LoadedComponent(), nullptr);
  EXPECT_EQ(FormComponentsOf(form_.get())->GetComponentCount(), 1);
  EXPECT_EQ(gui->GetOPCServer(), nullptr);
  EXPECT_EQ(Utf8(serverWidget->ComponentText()), before);
  LoadFormComponents(form_.get());
  ASSERT_NE(serverWidget->LoadedComponent(), nullptr);
  EXPECT_EQ(Utf8(serverWidget->ComponentText()), before);
  gui->SetOPCServer(static_cast<TXeloServer*>(serverWidget->LoadedComponent()));

  // The component's own properties as Qt properties: live, never stored
  // (the text holds them), while the text is.
  const QMetaObject* meta = serverWidget->metaObject();
  EXPECT_TRUE(meta->property(meta->indexOfProperty("componentText")).isStored());
  for (const char* name : {"ServerName", "ComputerName", "Active", "ConnectDelay"}) {
    const int index = meta->indexOfProperty(name);
    ASSERT_GE(index, 0) << name;
    EXPECT_FALSE(meta->property(index).isStored()) << name;
  }
  EXPECT_EQ(serverWidget->property("ServerName").toString(), QStringLiteral("Xelo.Sim.1"));
  EXPECT_TRUE(serverWidget->property("Active").toBool());
  ASSERT_TRUE(serverWidget->setProperty("ConnectDelay", 750));
  EXPECT_EQ(GetOrdProp(serverWidget->Component(), "ConnectDelay"), 750);
  EXPECT_NE(Utf8(serverWidget->ComponentText()).find("ConnectDelay = 750"), std::string::npos);

  // The binding component's server by name: another name on the form is
  // refused through the application's handler, and nothing changes.
  std::string reported;
  Application().SetOnException([&](TApplication*, const std::exception& e) { reported = e.what(); });
  ASSERT_TRUE(guiWidget->setProperty("OPCServer", QStringLiteral("RampEdit")));
  EXPECT_NE(reported.find("No server component named RampEdit"), std::string::npos) << reported;
  EXPECT_EQ(Utf8(guiWidget->OPCServer()), "Plant");
  ASSERT_TRUE(guiWidget->setProperty("OPCServer", QString()));
  EXPECT_EQ(static_cast<TXeloGUI&>(guiWidget->Component()).GetOPCServer(), nullptr);
  Application().SetOnException(nullptr);
}

TEST_F(ComponentWidgetTest, BadTextsAreRefusedAndEveryStandInStillHasItsComponent) {
  const QString server = QStringLiteral("object S: TXeloServer\n  ServerName = 'Xelo.Sim.1'\n  ConnectDelay = \nend");
  const QString gui = QStringLiteral(
      "object G: TXeloGUI\n  OPCServer = XeloServer1\n  Items = <\n    item\n      Control = 'Nowhere'\n"
      "    end\n    item\n      Control = 'Edit'\n      CtrlPropName = 'text'\n    end>\nend");
  const QString widgets = QStringLiteral("<widget class=\"QLineEdit\" name=\"Edit\"/>") +
                          StandInXml("xelo::TXeloServerWidget", "XeloServer1", server) +
                          StandInXml("xelo::TXeloGUIWidget", "XeloGUI1", gui);
  // The server's text does not parse: load() says so after making the
  // whole form, with an empty server in its place that the binding
  // component still finds; of its bindings, the one whose widget the form
  // has works.
  try {
    LoadForm(widgets);
    FAIL() << "load raised nothing";
  } catch (const EParserError& e) {
    EXPECT_NE(std::string(e.what()).find("Syntax error on line 4"), std::string::npos) << e.what();
  }
  ASSERT_NE(form_, nullptr);
  auto* serverWidget = StandIn<TXeloServerWidget>("XeloServer1");
  auto* guiWidget = StandIn<TXeloGUIWidget>("XeloGUI1");
  ASSERT_TRUE(serverWidget != nullptr && guiWidget != nullptr);
  ASSERT_NE(serverWidget->LoadedComponent(), nullptr);
  EXPECT_EQ(GetStrProp(serverWidget->Component(), "ServerName"), "");
  auto& binding = static_cast<TXeloGUI&>(guiWidget->Component());
  EXPECT_EQ(binding.GetOPCServer(), &serverWidget->Component());
  ASSERT_EQ(binding.GetItems()->GetCount(), 2);
  EXPECT_EQ(binding.GetItems()->GetItem(1)->GetControl(), form_->findChild<QLineEdit*>("Edit"));

  // Set by code, the errors raise and the component keeps what it had.
  SetStrProp(serverWidget->Component(), "ServerName", "Xelo.Sim.1");
  EXPECT_THROW(serverWidget->SetComponentText(server), EParserError);
  EXPECT_THROW(serverWidget->SetComponentText(QStringLiteral("object S: TXeloGUI\nend")), EReadError);
  EXPECT_EQ(GetStrProp(serverWidget->Component(), "ServerName"), "Xelo.Sim.1");
  // A whole text read into the live component: the name stays the stand-in's.
  serverWidget->SetComponentText(QStringLiteral("object Other: TXeloServer\n  ConnectDelay = 42\nend"));
  EXPECT_EQ(serverWidget->Component().GetName(), "XeloServer1");
  EXPECT_EQ(GetOrdProp(serverWidget->Component(), "ConnectDelay"), 42);
  EXPECT_EQ(GetStrProp(serverWidget->Component(), "ServerName"), "Xelo.Sim.1");
}

TEST_F(ComponentWidgetTest, StandInsMadeByCodeLoadTogetherOnTheNextTurnOfTheLoop) {
  auto window = std::make_unique<QWidget>();
  auto* edit = new QLineEdit(window.get());
  edit->setObjectName("Edit");
  auto* gui = new TXeloGUIWidget(window.get());
  gui->setObjectName("Binding");
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
  EXPECT_EQ(server->property("ServerName").toString(), QStringLiteral("Xelo.Sim.1"));
  EXPECT_EQ(gui->property("OPCServer").toString(), QStringLiteral("XeloServer1"));
  EXPECT_EQ(server->property("ConnectDelay").toInt(), 300);
  EXPECT_TRUE(server->property("Active").toBool());
  server->setProperty("ConnectDelay", 120);
  server->setProperty("ClientName", QStringLiteral("designed"));
  EXPECT_EQ(gui->LoadedComponent(), nullptr);
  EXPECT_EQ(FormComponentsOf(window.get()), nullptr);
  QTest::qWait(1);
  ASSERT_NE(gui->LoadedComponent(), nullptr);
  EXPECT_EQ(server->objectName(), QStringLiteral("XeloServer1"));
  EXPECT_TRUE(GetOrdProp(server->Component(), "Active") != 0);
  EXPECT_EQ(GetOrdProp(server->Component(), "ConnectDelay"), 120);
  EXPECT_EQ(GetStrProp(server->Component(), "ClientName"), "designed");
  ASSERT_TRUE(Application().ProcessMessagesUntil([&] { return !edit->text().isEmpty(); }, 5s));

  // A stand-in takes its component with it; the window takes the rest.
  qt::TForm* components = FormComponentsOf(window.get());
  ASSERT_NE(components, nullptr);
  EXPECT_EQ(components->GetComponentCount(), 2);
  delete gui;
  EXPECT_EQ(components->GetComponentCount(), 1);
  window.reset();
  Application().ProcessMessages();
  EXPECT_EQ(sim::SimulationControl::Live().servers, 0u);
}

TEST_F(ComponentWidgetTest, InADesignedFormTheStandInShowsItsPictureAndItsComponentIsDesigned) {
  // A design host's form is a widget inside the host's window, marked as
  // a form: its stand-ins' components are its own, not the window's.
  QWidget host;
  auto* form = new QWidget(&host);
  MarkAsForm(form);
  auto* standIn = new TXeloServerWidget(form);
  standIn->setObjectName("XeloServer1");
  standIn->SetDesigning(true);
  EXPECT_FALSE(standIn->isHidden());
  TComponent& server = standIn->Component();
  EXPECT_EQ(FormComponentsOf(standIn), FormComponentsOf(form));
  ASSERT_NE(FormComponentsOf(form), nullptr);
  EXPECT_EQ(FormComponentsOf(form)->Widget(), form);
  EXPECT_TRUE(server.GetComponentState().Contains(csDesigning));
  // What it shows is its class's palette picture.
  const QImage shown = standIn->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QImage picture = PaletteImage("TXeloServer").convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(shown.size(), picture.size());
  int opaque = 0;
  int differing = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (qAlpha(picture.pixel(x, y)) != 255) continue;
      ++opaque;
      if (shown.pixel(x, y) != picture.pixel(x, y)) ++differing;
    }
  }
  EXPECT_GT(opaque, 200);
  EXPECT_EQ(differing, 0);
  standIn->SetDesigning(false);
  EXPECT_TRUE(standIn->isHidden());
  EXPECT_FALSE(server.GetComponentState().Contains(csDesigning));
}

}  // namespace
}  // namespace xelo::test
