<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AppUpdate</name>
    <message>
        <source>AppUpdate</source>
        <translatorcomment>kept: scripts and tests find the window by its title</translatorcomment>
        <translation>AppUpdate</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>忽略</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>稍后</translation>
    </message>
    <message>
        <source>Package Selected</source>
        <translation>已选软件包</translation>
    </message>
    <message>
        <source>Please select a package you want to upgrade to</source>
        <translation>请选择要升级的软件包</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
</context>
<context>
    <name>PanicReport</name>
    <message>
        <source>Capture</source>
        <translation>采集日志</translation>
    </message>
    <message>
        <source>Form</source>
        <translatorcomment>kept: scripts and tests find the window by its title</translatorcomment>
        <translation>Form</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>忽略</translation>
    </message>
    <message>
        <source>Panic log saved successfully!
</source>
        <translation>崩溃日志保存成功！
</translation>
    </message>
    <message>
        <source>Please plug USB stick to save logs</source>
        <translation>请插入U盘以保存日志</translation>
    </message>
    <message>
        <source>Please unplug &amp; plug USB stick to collect core dump</source>
        <translation>请拔出并重新插入U盘以收集核心转储</translation>
    </message>
    <message>
        <source>Reboot</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>Restart App</source>
        <translation>重启应用</translation>
    </message>
    <message>
        <source>Saving... Don&apos;t Unplug the USB stick</source>
        <translation>正在保存……请勿拔出U盘</translation>
    </message>
    <message>
        <source>System Information</source>
        <translation>系统信息</translation>
    </message>
    <message>
        <source>App=%1 Die @ %2
</source>
        <translation>应用 %1 于 %2 终止
</translation>
    </message>
    <message>
        <source>Coredump generated at%1
</source>
        <translation>核心转储生成于%1
</translation>
    </message>
    <message>
        <source>USB: </source>
        <translation>U盘：</translation>
    </message>
    <message>
        <source>OFF - </source>
        <translation>已拔出 - </translation>
    </message>
    <message>
        <source>ON - </source>
        <translation>已插入 - </translation>
    </message>
</context>
<context>
    <name>VerInfo</name>
    <message>
        <source>Background</source>
        <translation>后台</translation>
    </message>
    <message>
        <source>Form</source>
        <translatorcomment>kept: scripts and tests find the window by its title</translatorcomment>
        <translation>Form</translation>
    </message>
    <message>
        <source>Ravelin
Revision:%1</source>
        <translation>Ravelin
修订版本：%1</translation>
    </message>
    <message>
        <source>Version Information</source>
        <translation>版本信息</translation>
    </message>
</context>
</TS>
