// The Qt Designer plugin as Designer and Qt's own form loader meet it: the
// widget box entries, the stand-ins it makes for Designer and for a
// program, their task menus, and a designed form loaded by a plain
// QUiLoader through the plugin showing live values. The plugin carries its
// own copy of the library, so the test sees its objects through Qt only.
#ifdef XELO_DESIGNER_PLUGIN_FILE

#include "support/QtScene.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QUiLoader>

namespace xelo::test {
namespace {

// Designer's core as far as the plugin uses it: an extension manager.
struct TestCore : QDesignerFormEditorInterface {
  TestCore() { setExtensionManager(new QExtensionManager(this)); }
};

QStringList ActionTexts(QDesignerFormEditorInterface& core, QWidget* widget) {
  QStringList texts;
  auto* menu = qt_extension<QDesignerTaskMenuExtension*>(core.extensionManager(), widget);
  if (menu != nullptr)
    for (QAction* action : menu->taskActions()) texts << action->text();
  return texts;
}

TEST(DesignerPluginTest, OffersTheComponentsOnPageOPCWithTheirVerbsAndQtsOwnFormLoaderMakesThemThroughIt) {
  QPluginLoader plugin(QStringLiteral(XELO_DESIGNER_PLUGIN_FILE));
  auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(plugin.instance());
  ASSERT_NE(collection, nullptr) << Utf8(plugin.errorString());
  const QList<QDesignerCustomWidgetInterface*> widgets = collection->customWidgets();
  QStringList names;
  for (QDesignerCustomWidgetInterface* widget : widgets) {
    names << widget->name();
    EXPECT_TRUE(widget->group() == QStringLiteral("OPC") && !widget->isContainer()) << Utf8(widget->name());
    EXPECT_TRUE(widget->domXml().contains(QStringLiteral("class=\"%1\"").arg(widget->name())));
  }
  ASSERT_EQ(names, (QStringList{"xelo::TXeloServerWidget", "xelo::TxeloServerBrowserWidget", "xelo::TXeloGUIWidget"}));

  // With Designer: the task menu holds each component editor's verb (the
  // server browser has none).
  QWidget form;
  TestCore core;
  for (QDesignerCustomWidgetInterface* widget : widgets) widget->initialize(&core);
  QWidget* server = Named(widgets[0]->createWidget(&form), "XeloServer1");
  QWidget* browser = widgets[1]->createWidget(&form);
  QWidget* gui = Named(widgets[2]->createWidget(&form), "XeloGUI1");
  EXPECT_EQ(ActionTexts(core, server) + ActionTexts(core, browser) + ActionTexts(core, gui),
            (QStringList{"OPC Inspector...", "OPC to GUI..."}));
  EXPECT_TRUE(server->property("ServerName").isValid() && gui->property("OPCServer").isValid());

  // The server's verb opens the inspector (the plugin's own; seen here by
  // its caption) on the designed component.
  auto* menu = qt_extension<QDesignerTaskMenuExtension*>(core.extensionManager(), server);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->preferredEditAction(), menu->taskActions().value(0));
  QString caption;
  WhenModalShows([&](QDialog& dialog) { caption = dialog.windowTitle(); dialog.reject(); });
  menu->taskActions().value(0)->trigger();
  EXPECT_EQ(caption, QStringLiteral("OPC Inspector"));

  // Qt's own form loader makes the components through the plugin, and they
  // run.
  QUiLoader loader;
  loader.clearPluginPaths();
  loader.addPluginPath(QFileInfo(QStringLiteral(XELO_DESIGNER_PLUGIN_FILE)).absolutePath());
  EXPECT_TRUE(loader.availableWidgets().contains(QStringLiteral("xelo::TXeloGUIWidget")));
  QFile file(QStringLiteral(XELO_EXAMPLES_DIR "/DesignedForm.ui"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  std::unique_ptr<QWidget> loaded(loader.load(&file));
  ASSERT_NE(loaded, nullptr) << Utf8(loader.errorString());
  auto* ramp = loaded->findChild<QLineEdit*>("RampEdit");
  QWidget* loadedServer = loaded->findChild<QWidget*>("XeloServer1");
  ASSERT_TRUE(ramp != nullptr && loadedServer != nullptr && loadedServer->isHidden());
  loaded->show();
  // The plugin's copy of the library loads the components on the next turn
  // of Qt's loop and runs its own queue from it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ramp->text().isEmpty(); }, 5000));
  EXPECT_TRUE(loadedServer->property("Active").toBool());
  EXPECT_TRUE(SaveScreenshot(*loaded, "designer-plugin-form"));
}

}  // namespace
}  // namespace xelo::test

#endif  // XELO_DESIGNER_PLUGIN_FILE
