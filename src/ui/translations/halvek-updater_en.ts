<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Status</name>
    <message>
        <source>APP版本：</source>
        <translation>App version: </translation>
    </message>
    <message>
        <source>新设备插入...</source>
        <translation>Plug in a hub...</translation>
    </message>
    <message>
        <source>升级失败，请重试...</source>
        <translation>Update failed, retry...</translation>
    </message>
    <message>
        <source>状态错误，请手动升级.</source>
        <translation>State error, update by hand.</translation>
    </message>
    <message>
        <source>升级中...</source>
        <translation>Updating...</translation>
    </message>
    <message>
        <source>重启...</source>
        <translation>Restarting...</translation>
    </message>
    <message>
        <source>升级完成.</source>
        <translation>Update completed.</translation>
    </message>
    <message>
        <source>升级失败.</source>
        <translation>Update failed.</translation>
    </message>
</context>
<context>
    <name>TSkinForm</name>
    <message>
        <source>Menu</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>Charging Hub for Veyla 1 and Quillon 3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>How to update:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Step 1: Connect the Charging Hub to your computer by micro USB </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cable. Red LEDs on the Hub will blink when connected. It is not </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>necessary to connect the Hub to power. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Step 2: Go to the Update page and click [Check Version]. This will </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>show whether an update is available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Step 3: Click [Update] to initiate the update. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Note:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 Do not connect more than one Charging Hub at the same time;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2 Do not remove the USB cable during the update;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3 If the update fails, repeat the above steps.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Release Notes:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>* Fixed bug that occurs during extended charging,</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>   e.g. leaving batteries in the Hub for over one </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>   week. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Halvek Hub Updater</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hub connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No hub connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Automatic update progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Release notes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Versions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Home</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tool</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Halvek Charging Hub</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Automatically update when new hub is plugged in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>运行数据</source>
        <translation>Running data</translation>
    </message>
    <message>
        <source>电压</source>
        <translation>Voltage</translation>
    </message>
    <message>
        <source>MV</source>
        <translation>mV</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>MA</source>
        <translation>mA</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>Counter 1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Counter 2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Counter 3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>在位状态</source>
        <translation>Batteries present</translation>
    </message>
    <message>
        <source>电池2</source>
        <translation>Battery 2</translation>
    </message>
    <message>
        <source>电池1</source>
        <translation>Battery 1</translation>
    </message>
    <message>
        <source>电池3</source>
        <translation>Battery 3</translation>
    </message>
    <message>
        <source>电池4</source>
        <translation>Battery 4</translation>
    </message>
    <message>
        <source>not read yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>读取</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>自动刷新</source>
        <translation>Auto refresh</translation>
    </message>
    <message>
        <source>LED颜色调节</source>
        <translation>LED colour levels</translation>
    </message>
    <message>
        <source>读取﹠开始</source>
        <translation>Read &amp;&amp; start</translation>
    </message>
    <message>
        <source>写入﹠结束</source>
        <translation>Write &amp;&amp; end</translation>
    </message>
    <message>
        <source>自动升级：</source>
        <translation>Update:</translation>
    </message>
    <message>
        <source>present</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>absent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update completed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not updated; the hub is as it was.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed: the hub waits in its bootloader. Run the update again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed. Run the update again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copyright 2026 Halvek. All rights reserved. Provided by Halvek for use with the Halvek Charging Hub.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>LED%1红</source>
        <translation>LED%1 red</translation>
    </message>
    <message>
        <source>LED%1绿</source>
        <translation>LED%1 green</translation>
    </message>
    <message>
        <source>%1 at %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 %2
Built-in hub firmware %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 help</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
