<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AppUpdate</name>
    <message>
        <source>AppUpdate</source>
        <translation>AppUpdate</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignore</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>Package Selected</source>
        <translation>Package Selected</translation>
    </message>
    <message>
        <source>Please select a package you want to upgrade to</source>
        <translation>Please select a package you want to upgrade to</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Upgrade</translation>
    </message>
</context>
<context>
    <name>PanicReport</name>
    <message>
        <source>Capture</source>
        <translation>Capture</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignore</translation>
    </message>
    <message>
        <source>Panic log saved successfully!
</source>
        <translation>Panic log saved successfully!
</translation>
    </message>
    <message>
        <source>Please plug USB stick to save logs</source>
        <translation>Please plug USB stick to save logs</translation>
    </message>
    <message>
        <source>Please unplug &amp; plug USB stick to collect core dump</source>
        <translation>Please unplug &amp; plug USB stick to collect core dump</translation>
    </message>
    <message>
        <source>Reboot</source>
        <translation>Reboot</translation>
    </message>
    <message>
        <source>Restart App</source>
        <translation>Restart App</translation>
    </message>
    <message>
        <source>Saving... Don&apos;t Unplug the USB stick</source>
        <translation>Saving... Don&apos;t Unplug the USB stick</translation>
    </message>
    <message>
        <source>System Information</source>
        <translation>System Information</translation>
    </message>
    <message>
        <source>App=%1 Die @ %2
</source>
        <translation>App=%1 Die @ %2
</translation>
    </message>
    <message>
        <source>Coredump generated at%1
</source>
        <translation>Coredump generated at%1
</translation>
    </message>
    <message>
        <source>USB: </source>
        <translation>USB: </translation>
    </message>
    <message>
        <source>OFF - </source>
        <translation>OFF - </translation>
    </message>
    <message>
        <source>ON - </source>
        <translation>ON - </translation>
    </message>
</context>
<context>
    <name>VerInfo</name>
    <message>
        <source>Background</source>
        <translation>Background</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Ravelin
Revision:%1</source>
        <translation>Ravelin
Revision:%1</translation>
    </message>
    <message>
        <source>Version Information</source>
        <translation>Version Information</translation>
    </message>
</context>
</TS>
