<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>CompanionLibrary</name>
    <message>
        <source>无法加载组件库 %1：%2</source>
        <translation>Cannot load the component library %1: %2</translation>
    </message>
    <message>
        <source>缺少导出函数 %1</source>
        <translation>the exported function %1 is missing</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>the file does not exist</translation>
    </message>
</context>
<context>
    <name>EnvironmentChecks</name>
    <message>
        <source>您的游戏版本为：%1<byte value="xd"/>
最好为1.2.0.1，其他版本不保证可以联机<byte value="xd"/>
如果为其他版本，也请确认对方和您的版本保持一致！</source>
        <translation>Your game version is: %1<byte value="xd"/>
Version 1.2.0.1 is best; other versions may not link up<byte value="xd"/>
With another version, make sure the other player has the same one!</translation>
    </message>
    <message>
        <source>通知</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>没有选择PES2008.exe，无法帮您检测游戏版本</source>
        <translation>PES2008.exe was not chosen, so the game version cannot be checked</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>当前操作系统用户不是管理员帐户，联机时有可能会出现错误！</source>
        <translation>This user is not an administrator: linking up may fail!</translation>
    </message>
    <message>
        <source>不能正常联机？联机时有错误？</source>
        <translation>Can&apos;t link up? Errors while linking?</translation>
    </message>
    <message>
        <source>请点我解决！</source>
        <translation>Click here for help!</translation>
    </message>
    <message>
        <source>帮助文件损坏！</source>
        <translation>The help file is damaged!</translation>
    </message>
</context>
<context>
    <name>HostsGuard</name>
    <message>
        <source>找不到pkexec，无法修改hosts文件！</source>
        <translation>pkexec was not found, so the hosts file cannot be changed!</translation>
    </message>
    <message>
        <source>无法启动hosts文件守护程序：</source>
        <translation>Cannot start the hosts file guard: </translation>
    </message>
    <message>
        <source>hosts文件守护程序的应答无法识别：</source>
        <translation>The hosts file guard gave an answer that cannot be understood: </translation>
    </message>
    <message>
        <source>hosts文件守护程序没有应答</source>
        <translation>The hosts file guard did not answer</translation>
    </message>
    <message>
        <source>无法修改hosts文件：</source>
        <translation>Cannot change the hosts file: </translation>
    </message>
    <message>
        <source>这台电脑上已经有另一个联机在运行（可能是另一个用户或另一个窗口）。请先结束那个联机，再重试。</source>
        <translation>Another link is already running on this computer (perhaps another user or another window). End that link first, then try again.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：这个桌面没有运行输入管理员密码的程序（认证代理），所以无法询问密码。请启动一个认证代理，或者以root身份运行本程序。</source>
        <translation>Cannot change the hosts file: this desktop runs no program that asks for the administrator password (an authentication agent), so the password cannot be asked for. Start an authentication agent, or run this program as root.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：密码窗口被关闭了，没有输入密码。需要联机时请再试一次，并输入管理员密码。</source>
        <translation>Cannot change the hosts file: the password window was closed without a password. When you want to link up, try again and enter the administrator password.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：系统拒绝了这个用户修改hosts文件的请求。请让本机管理员授权，或者以root身份运行本程序。</source>
        <translation>Cannot change the hosts file: the system refused this user&apos;s request to change it. Ask this computer&apos;s administrator for permission, or run this program as root.</translation>
    </message>
    <message>
        <source>hosts文件守护程序%1所在的位置不受保护（它或它上面的某个文件夹不只属于root），本程序不会让它以管理员身份运行。请安装本程序的软件包，或者以root身份运行本程序。</source>
        <translation>The hosts file guard %1 lies in an unprotected place (it or a folder above it does not belong to root alone), so this program will not run it as administrator. Install the program&apos;s package, or run this program as root.</translation>
    </message>
</context>
<context>
    <name>RouterAdvice</name>
    <message>
        <source>%1、%2、%3</source>
        <translation>%1, %2 and %3</translation>
    </message>
    <message>
        <source>本机</source>
        <translation>this computer</translation>
    </message>
    <message>
        <source>本机 %1</source>
        <translation>this computer (%1)</translation>
    </message>
    <message>
        <source>请把这个地址告诉对方：%1</source>
        <translation>Give this address to the other player: %1</translation>
    </message>
    <message>
        <source>路由器的外网地址 %1 是局域网地址：这台路由器接在另一台路由器（常见的是运营商的光猫）后面。请把光猫设为桥接模式，或在两台路由器上都转发 %2，或请对方按 SERVER。</source>
        <translation>The router&apos;s external address %1 is a local network address: this router sits behind another router (often the provider&apos;s modem). Put the modem in bridge mode, or forward %2 on both routers, or ask the other player to press SERVER.</translation>
    </message>
    <message>
        <source>路由器的外网地址 %1 是运营商的内部地址，外面连不进来。请让对方按 SERVER，你按 CLIENT。</source>
        <translation>The router&apos;s external address %1 is an internal address of your provider: nobody outside can connect in. Ask the other player to press SERVER, and press CLIENT yourself.</translation>
    </message>
    <message>
        <source>路由器没有应答端口映射（UPnP、NAT-PMP）。若对方连不进来，请在路由器上把 %1 手动转发到%2。</source>
        <translation>No router answered the port mapping (UPnP, NAT-PMP). If the other player cannot connect, forward %1 by hand on the router to %2.</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口被路由器自己的服务占用（代码 729）。请在路由器设置里关掉占用它的功能（例如远程管理），或请对方按 SERVER。</source>
        <translation>Port %1 on the router is taken by the router&apos;s own service (code 729). Turn off the feature that uses it in the router&apos;s settings (remote management, for example), or ask the other player to press SERVER.</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口已转发给另一台电脑。请在路由器上删除那条转发或改为%2，或请对方按 SERVER。</source>
        <translation>The router already forwards port %1 to another computer. Delete that forwarding on the router or point it to %2, or ask the other player to press SERVER.</translation>
    </message>
    <message>
        <source>路由器拒绝用 NAT-PMP 打开 %1 端口（代码 %2）。请在路由器设置里允许端口映射，或手动把它转发到%3。</source>
        <translation>The router refused to open port %1 through NAT-PMP (code %2). Allow port mapping in the router&apos;s settings, or forward the port by hand to %3.</translation>
    </message>
    <message>
        <source>路由器拒绝打开 %1 端口（代码 %2）。请在路由器上开启 UPnP，或手动把它转发到%3。</source>
        <translation>The router refused to open port %1 (code %2). Turn on UPnP on the router, or forward the port by hand to %3.</translation>
    </message>
    <message>
        <source>路由器没有打开全部端口。请在路由器上把 %1 手动转发到%2。</source>
        <translation>The router did not open all the ports. Forward %1 by hand on the router to %2.</translation>
    </message>
    <message>
        <source>连接 %1 的 TCP %2 端口三次都没有应答。可能原因：地址输错；对方还没按 SERVER；对方的路由器没有转发 %3；防火墙拦截。</source>
        <translation>TCP port %2 of %1 did not answer three times. Possible causes: the address was mistyped; the other player has not pressed SERVER yet; the other player&apos;s router does not forward %3; a firewall is in the way.</translation>
    </message>
    <message>
        <source>%1 是你自己路由器的外网地址：你们在同一个路由器后面，很多路由器不能把连接绕回来。请改用对方的局域网地址，并把本机的局域网地址 %2 告诉对方。</source>
        <translation>%1 is your own router&apos;s external address: you are both behind the same router, and many routers cannot loop a connection back. Use the other player&apos;s local network address instead, and give them this computer&apos;s local address %2.</translation>
    </message>
    <message>
        <source>去往 %1 的连接不经过路由器，而是走另一个网络接口（例如 VPN），路由器上的端口映射帮不上忙。</source>
        <translation>The connection to %1 does not go through the router but through another network interface (a VPN, for example), so the router&apos;s port mapping cannot help.</translation>
    </message>
    <message>
        <source>本机的 ufw 防火墙开着，会挡住对方的连接。请在终端运行：%1；%2；%3</source>
        <translation>This computer&apos;s ufw firewall is on and will block the other player&apos;s connection. Run in a terminal: %1; %2; %3</translation>
    </message>
    <message>
        <source>本机的 firewalld 防火墙会挡住对方的连接。请在终端运行：%1</source>
        <translation>This computer&apos;s firewalld firewall will block the other player&apos;s connection. Run in a terminal: %1</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口仍转发到本机以前的地址 %2（本程序早先所设），路由器不许更改。它到期后程序会自动重新映射；等不及可在路由器上删除那条转发，或请对方按 SERVER。</source>
        <translation>The router still forwards %1 to this computer&apos;s earlier address %2 (set by this program before) and will not let it be changed. When it expires the program maps the port again by itself; if you cannot wait, delete that forward on the router, or ask the other player to press SERVER.</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>该程序正在运行，请先关闭！</source>
        <translation>The program is already running: close it first!</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Running</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>GB2312</source>
        <extracomment>The code page of this language whose bytes the tray&apos;s text limits count: an encoding name Qt knows (windows-1252 for Western European languages).</extracomment>
        <translation>windows-1252</translation>
    </message>
</context>
<context>
    <name>bramblet::TBrambletMainForm</name>
    <message>
        <source>hosts文件%1仍然带有本程序的游戏重定向，但它的备份%2已经不见了。本程序不会改动它，请手动删除其中含有%3和%4的两行。</source>
        <translation>The hosts file %1 still carries this program&apos;s redirection of the game, but its backup %2 is gone. This program will not change it: please delete by hand the two lines in it that contain %3 and %4.</translation>
    </message>
    <message>
        <source>备份文件%1已经存在，但它不是本程序创建的。为了不覆盖它，本程序没有修改hosts文件。请把它移走或改名，然后再连接。</source>
        <translation>The backup file %1 already exists, but this program did not make it. So as not to overwrite it, the hosts file was not changed. Please move or rename it, then connect again.</translation>
    </message>
    <message>
        <source>无法恢复hosts文件%1！原来的内容仍保存在备份%2中，请手动用它替换hosts文件。</source>
        <translation>Cannot restore the hosts file %1! Its earlier content is still kept in the backup %2: please replace the hosts file with it by hand.</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>对方IP地址包含非法字符！</source>
        <translation>The other player&apos;s IP address contains invalid characters!</translation>
    </message>
    <message>
        <source>对方IP地址为空！</source>
        <translation>The other player&apos;s IP address is empty!</translation>
    </message>
    <message>
        <source>获得本机IP错误！</source>
        <translation>Could not get this computer&apos;s IP address!</translation>
    </message>
    <message>
        <source>连接成功</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>本机的 firewalld 防火墙（区域 %1）会挡住对方的连接。要在这次连接期间打开 TCP 9001、UDP 5739 和 TCP 11881 端口吗？</source>
        <translation>This computer&apos;s firewalld firewall (zone %1) will block the other player&apos;s connection. Open TCP 9001, UDP 5739 and TCP 11881 for the length of this link?</translation>
    </message>
    <message>
        <source>hosts文件守护程序意外结束</source>
        <translation>The hosts file guard ended unexpectedly</translation>
    </message>
    <message>
        <source>游戏的重定向仍留在hosts文件中。关闭本程序时会再请求一次管理员密码，把hosts文件还原。</source>
        <translation>The game&apos;s redirection is still in the hosts file. When you close this program it will ask for the administrator password once more to put the hosts file back.</translation>
    </message>
    <message>
        <source>hosts文件%1在联机期间被别的程序或管理员修改过。本程序只去掉了自己加入的几行，这些修改都保留了下来。</source>
        <translation>The hosts file %1 was changed during the link by another program or the administrator. This program took out only the lines it had added; those changes were kept.</translation>
    </message>
    <message>
        <source>hosts文件%1还带有本程序以前的游戏重定向，但它的备份已经不见了。本程序去掉了重定向的几行，其余内容保持不变。</source>
        <translation>The hosts file %1 still carried this program&apos;s earlier redirection of the game, but its backup was gone. This program took out the redirection lines and left the rest as it was.</translation>
    </message>
    <message>
        <source>hosts文件%1在联机期间被别的程序或管理员改过，本程序的标记也被去掉了，所以本程序没有改动它。联机前的hosts文件保存在%2。</source>
        <translation>The hosts file %1 was changed during the link by another program or the administrator, and this program&apos;s mark was taken out too, so this program did not change it. The hosts file from before the link is kept in %2.</translation>
    </message>
    <message>
        <source>现在无法恢复hosts文件%1。原来的内容仍保存在备份%2中，关闭本程序时会再试一次。</source>
        <translation>The hosts file %1 cannot be put back now. Its earlier content is still kept in the backup %2; this program will try again when you close it.</translation>
    </message>
    <message>
        <source>hosts文件守护程序意外结束了，游戏的重定向还留在hosts文件中。要现在就还原hosts文件吗？（可能需要再输入一次管理员密码）还原以后，本机的游戏就连不到对方了。选“否”则在关闭本程序时还原。</source>
        <translation>The hosts file guard ended unexpectedly, and the game&apos;s redirection is still in the hosts file. Put the hosts file back now? (This may ask for the administrator password once more.) Afterwards the game on this computer can no longer reach the other player. Choose “No” to put it back when this program closes.</translation>
    </message>
    <message>
        <source>hosts文件已经还原，游戏的重定向没有了：本机的游戏现在连不到对方了。本程序的其余部分照常运行。要再和对方联机，请退出本程序，重新打开后再连接。</source>
        <translation>The hosts file is back and the game&apos;s redirection is gone: the game on this computer can no longer reach the other player. The rest of this program keeps running. To play with the other player again, quit this program, open it again and link once more.</translation>
    </message>
</context>
<context>
    <name>bramblet::TFormConnect</name>
    <message>
        <source>已建立连接，正在接收信息</source>
        <translation>Connected, receiving information</translation>
    </message>
    <message>
        <source>已建立连接，正在发送信息</source>
        <translation>Connected, sending information</translation>
    </message>
    <message>
        <source>正在返回客户端地址</source>
        <translation>Sending back the client&apos;s address</translation>
    </message>
    <message>
        <source>正在请求端口</source>
        <translation>Asking for the port</translation>
    </message>
    <message>
        <source>正在返回服务器地址</source>
        <translation>Sending back the server&apos;s address</translation>
    </message>
    <message>
        <source>返回地址有误，请求重传</source>
        <translation>The address sent back was wrong: asking again</translation>
    </message>
</context>
<context>
    <name>linksummary</name>
    <message>
        <source> 对方真实地址为：</source>
        <translation> Opponent&apos;s address: </translation>
    </message>
    <message>
        <source> 速度：</source>
        <translation> Speed: </translation>
    </message>
    <message>
        <source> 稳定性：</source>
        <translation> Stability: </translation>
    </message>
    <message>
        <source> 丢包：</source>
        <translation> Packet loss: </translation>
    </message>
</context>
<context>
    <name>speedtest</name>
    <message>
        <source>极好</source>
        <translation>Excellent</translation>
    </message>
    <message>
        <source>很好</source>
        <translation>Very good</translation>
    </message>
    <message>
        <source>良好</source>
        <translation>Good</translation>
    </message>
    <message>
        <source>一般</source>
        <translation>Average</translation>
    </message>
    <message>
        <source>差</source>
        <translation>Poor</translation>
    </message>
    <message>
        <source>非常差</source>
        <translation>Very poor</translation>
    </message>
    <message>
        <source>没有丢包</source>
        <translation>None</translation>
    </message>
    <message>
        <source>有少量丢包</source>
        <translation>Slight</translation>
    </message>
    <message>
        <source>有很多丢包</source>
        <translation>Heavy</translation>
    </message>
    <message>
        <source>有大量丢包</source>
        <translation>Severe</translation>
    </message>
    <message>
        <source>测试速度，请等待10秒钟...</source>
        <translation>Testing the speed, please wait 10 seconds...</translation>
    </message>
    <message>
        <source>测试速度，请等待</source>
        <translation>Testing the speed, please wait </translation>
    </message>
    <message>
        <source>秒钟...</source>
        <translation> seconds...</translation>
    </message>
    <message>
        <source>对方Bramblet版本太低或者网络不通</source>
        <translation>Opponent&apos;s Bramblet too old, or no network</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
