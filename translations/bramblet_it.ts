<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="zh_CN">
<context>
    <name>CompanionLibrary</name>
    <message>
        <source>无法加载组件库 %1：%2</source>
        <translation>Impossibile caricare la libreria dei componenti %1: %2</translation>
    </message>
    <message>
        <source>缺少导出函数 %1</source>
        <translation>manca la funzione esportata %1</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>il file non esiste</translation>
    </message>
</context>
<context>
    <name>EnvironmentChecks</name>
    <message>
        <source>您的游戏版本为：%1<byte value="xd"/>
最好为1.2.0.1，其他版本不保证可以联机<byte value="xd"/>
如果为其他版本，也请确认对方和您的版本保持一致！</source>
        <translation>La versione del tuo gioco è: %1<byte value="xd"/>
La migliore è la 1.2.0.1; con altre versioni il collegamento non è garantito<byte value="xd"/>
Con un&apos;altra versione, controlla che l&apos;altro giocatore abbia la stessa!</translation>
    </message>
    <message>
        <source>通知</source>
        <translation>Avviso</translation>
    </message>
    <message>
        <source>没有选择PES2008.exe，无法帮您检测游戏版本</source>
        <translation>PES2008.exe non è stato scelto: impossibile controllare la versione del gioco</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Attenzione</translation>
    </message>
    <message>
        <source>当前操作系统用户不是管理员帐户，联机时有可能会出现错误！</source>
        <translation>Questo utente non è un amministratore: il collegamento potrebbe non riuscire!</translation>
    </message>
    <message>
        <source>不能正常联机？联机时有错误？</source>
        <translation>Non riesci a collegarti? Errori durante il collegamento?</translation>
    </message>
    <message>
        <source>请点我解决！</source>
        <translation>Clicca qui per risolvere!</translation>
    </message>
    <message>
        <source>帮助文件损坏！</source>
        <translation>Il file della guida è danneggiato!</translation>
    </message>
</context>
<context>
    <name>HostsGuard</name>
    <message>
        <source>找不到pkexec，无法修改hosts文件！</source>
        <translation>pkexec non trovato: impossibile modificare il file hosts!</translation>
    </message>
    <message>
        <source>无法启动hosts文件守护程序：</source>
        <translation>Impossibile avviare il guardiano del file hosts: </translation>
    </message>
    <message>
        <source>hosts文件守护程序的应答无法识别：</source>
        <translation>Risposta incomprensibile dal guardiano del file hosts: </translation>
    </message>
    <message>
        <source>hosts文件守护程序没有应答</source>
        <translation>Il guardiano del file hosts non ha risposto</translation>
    </message>
    <message>
        <source>无法修改hosts文件：</source>
        <translation>Impossibile modificare il file hosts: </translation>
    </message>
    <message>
        <source>这台电脑上已经有另一个联机在运行（可能是另一个用户或另一个窗口）。请先结束那个联机，再重试。</source>
        <translation>Su questo computer è già in corso un altro collegamento (forse di un altro utente o di un&apos;altra finestra). Chiudi prima quel collegamento, poi riprova.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：这个桌面没有运行输入管理员密码的程序（认证代理），所以无法询问密码。请启动一个认证代理，或者以root身份运行本程序。</source>
        <translation>Impossibile modificare il file hosts: questo desktop non ha in esecuzione un programma che chieda la password di amministratore (un agente di autenticazione), quindi la password non può essere chiesta. Avvia un agente di autenticazione, oppure esegui questo programma come root.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：密码窗口被关闭了，没有输入密码。需要联机时请再试一次，并输入管理员密码。</source>
        <translation>Impossibile modificare il file hosts: la finestra della password è stata chiusa senza inserirla. Quando vuoi collegarti riprova e inserisci la password di amministratore.</translation>
    </message>
    <message>
        <source>无法修改hosts文件：系统拒绝了这个用户修改hosts文件的请求。请让本机管理员授权，或者以root身份运行本程序。</source>
        <translation>Impossibile modificare il file hosts: il sistema ha rifiutato la richiesta di questo utente. Chiedi il permesso all&apos;amministratore di questo computer, oppure esegui questo programma come root.</translation>
    </message>
    <message>
        <source>hosts文件守护程序%1所在的位置不受保护（它或它上面的某个文件夹不只属于root），本程序不会让它以管理员身份运行。请安装本程序的软件包，或者以root身份运行本程序。</source>
        <translation>Il guardiano del file hosts %1 si trova in una posizione non protetta (esso o una cartella sopra di esso non appartiene solo a root), quindi questo programma non lo eseguirà come amministratore. Installa il pacchetto del programma, oppure esegui questo programma come root.</translation>
    </message>
</context>
<context>
    <name>RouterAdvice</name>
    <message>
        <source>%1、%2、%3</source>
        <translation>%1, %2 e %3</translation>
    </message>
    <message>
        <source>本机</source>
        <translation>questo computer</translation>
    </message>
    <message>
        <source>本机 %1</source>
        <translation>questo computer (%1)</translation>
    </message>
    <message>
        <source>请把这个地址告诉对方：%1</source>
        <translation>Comunica questo indirizzo all&apos;altro giocatore: %1</translation>
    </message>
    <message>
        <source>路由器的外网地址 %1 是局域网地址：这台路由器接在另一台路由器（常见的是运营商的光猫）后面。请把光猫设为桥接模式，或在两台路由器上都转发 %2，或请对方按 SERVER。</source>
        <translation>L&apos;indirizzo esterno del router %1 è un indirizzo di rete locale: questo router sta dietro un altro router (spesso il modem del provider). Metti il modem in modalità bridge, oppure inoltra %2 su entrambi i router, oppure chiedi all&apos;altro giocatore di premere SERVER.</translation>
    </message>
    <message>
        <source>路由器的外网地址 %1 是运营商的内部地址，外面连不进来。请让对方按 SERVER，你按 CLIENT。</source>
        <translation>L&apos;indirizzo esterno del router %1 è un indirizzo interno del tuo provider: dall&apos;esterno non si può entrare. Chiedi all&apos;altro giocatore di premere SERVER e premi tu CLIENT.</translation>
    </message>
    <message>
        <source>路由器没有应答端口映射（UPnP、NAT-PMP）。若对方连不进来，请在路由器上把 %1 手动转发到%2。</source>
        <translation>Nessun router ha risposto alla mappatura delle porte (UPnP, NAT-PMP). Se l&apos;altro giocatore non riesce a collegarsi, inoltra a mano sul router %1 verso %2.</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口被路由器自己的服务占用（代码 729）。请在路由器设置里关掉占用它的功能（例如远程管理），或请对方按 SERVER。</source>
        <translation>La porta %1 del router è occupata da un servizio del router stesso (codice 729). Disattiva nelle impostazioni del router la funzione che la usa (per esempio la gestione remota), oppure chiedi all&apos;altro giocatore di premere SERVER.</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口已转发给另一台电脑。请在路由器上删除那条转发或改为%2，或请对方按 SERVER。</source>
        <translation>Il router inoltra già la porta %1 a un altro computer. Elimina quell&apos;inoltro sul router o indirizzalo verso %2, oppure chiedi all&apos;altro giocatore di premere SERVER.</translation>
    </message>
    <message>
        <source>路由器拒绝用 NAT-PMP 打开 %1 端口（代码 %2）。请在路由器设置里允许端口映射，或手动把它转发到%3。</source>
        <translation>Il router ha rifiutato di aprire la porta %1 tramite NAT-PMP (codice %2). Consenti la mappatura delle porte nelle impostazioni del router, oppure inoltra la porta a mano verso %3.</translation>
    </message>
    <message>
        <source>路由器拒绝打开 %1 端口（代码 %2）。请在路由器上开启 UPnP，或手动把它转发到%3。</source>
        <translation>Il router ha rifiutato di aprire la porta %1 (codice %2). Attiva UPnP sul router, oppure inoltra la porta a mano verso %3.</translation>
    </message>
    <message>
        <source>路由器没有打开全部端口。请在路由器上把 %1 手动转发到%2。</source>
        <translation>Il router non ha aperto tutte le porte. Inoltra a mano sul router %1 verso %2.</translation>
    </message>
    <message>
        <source>连接 %1 的 TCP %2 端口三次都没有应答。可能原因：地址输错；对方还没按 SERVER；对方的路由器没有转发 %3；防火墙拦截。</source>
        <translation>La porta TCP %2 di %1 non ha risposto per tre volte. Cause possibili: indirizzo scritto male; l&apos;altro giocatore non ha ancora premuto SERVER; il router dell&apos;altro giocatore non inoltra %3; un firewall blocca il collegamento.</translation>
    </message>
    <message>
        <source>%1 是你自己路由器的外网地址：你们在同一个路由器后面，很多路由器不能把连接绕回来。请改用对方的局域网地址，并把本机的局域网地址 %2 告诉对方。</source>
        <translation>%1 è l&apos;indirizzo esterno del tuo stesso router: siete dietro lo stesso router, e molti router non sanno rimandare indietro una connessione. Usa invece l&apos;indirizzo di rete locale dell&apos;altro giocatore e comunicagli l&apos;indirizzo locale di questo computer, %2.</translation>
    </message>
    <message>
        <source>去往 %1 的连接不经过路由器，而是走另一个网络接口（例如 VPN），路由器上的端口映射帮不上忙。</source>
        <translation>La connessione verso %1 non passa dal router ma da un&apos;altra interfaccia di rete (per esempio una VPN): la mappatura delle porte sul router non può aiutare.</translation>
    </message>
    <message>
        <source>本机的 ufw 防火墙开着，会挡住对方的连接。请在终端运行：%1；%2；%3</source>
        <translation>Il firewall ufw di questo computer è attivo e bloccherà la connessione dell&apos;altro giocatore. Esegui in un terminale: %1; %2; %3</translation>
    </message>
    <message>
        <source>本机的 firewalld 防火墙会挡住对方的连接。请在终端运行：%1</source>
        <translation>Il firewall firewalld di questo computer bloccherà la connessione dell&apos;altro giocatore. Esegui in un terminale: %1</translation>
    </message>
    <message>
        <source>路由器上的 %1 端口仍转发到本机以前的地址 %2（本程序早先所设），路由器不许更改。它到期后程序会自动重新映射；等不及可在路由器上删除那条转发，或请对方按 SERVER。</source>
        <translation>Il router inoltra ancora %1 al precedente indirizzo di questo computer, %2 (impostato prima da questo programma), e non ne consente la modifica. Alla scadenza il programma riapre la porta da solo; se non puoi aspettare, elimina quell&apos;inoltro sul router oppure chiedi all&apos;altro giocatore di premere SERVER.</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>该程序正在运行，请先关闭！</source>
        <translation>Il programma è già in esecuzione: chiudilo prima!</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>In esecuzione</translation>
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
        <translation>Il file hosts %1 contiene ancora il reindirizzamento del gioco fatto da questo programma, ma la sua copia di riserva %2 non c&apos;è più. Il programma non lo modificherà: elimina a mano le due righe che contengono %3 e %4.</translation>
    </message>
    <message>
        <source>备份文件%1已经存在，但它不是本程序创建的。为了不覆盖它，本程序没有修改hosts文件。请把它移走或改名，然后再连接。</source>
        <translation>Il file di riserva %1 esiste già, ma non è stato creato da questo programma. Per non sovrascriverlo, il file hosts non è stato modificato. Spostalo o rinominalo, poi collegati di nuovo.</translation>
    </message>
    <message>
        <source>无法恢复hosts文件%1！原来的内容仍保存在备份%2中，请手动用它替换hosts文件。</source>
        <translation>Impossibile ripristinare il file hosts %1! Il contenuto precedente è ancora nella copia di riserva %2: sostituisci a mano il file hosts con quella copia.</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Attenzione</translation>
    </message>
    <message>
        <source>对方IP地址包含非法字符！</source>
        <translation>L&apos;indirizzo IP dell&apos;altro giocatore contiene caratteri non validi!</translation>
    </message>
    <message>
        <source>对方IP地址为空！</source>
        <translation>L&apos;indirizzo IP dell&apos;altro giocatore è vuoto!</translation>
    </message>
    <message>
        <source>获得本机IP错误！</source>
        <translation>Impossibile ottenere l&apos;indirizzo IP di questo computer!</translation>
    </message>
    <message>
        <source>连接成功</source>
        <translation>Collegamento riuscito</translation>
    </message>
    <message>
        <source>本机的 firewalld 防火墙（区域 %1）会挡住对方的连接。要在这次连接期间打开 TCP 9001、UDP 5739 和 TCP 11881 端口吗？</source>
        <translation>Il firewall firewalld di questo computer (zona %1) bloccherà la connessione dell&apos;altro giocatore. Aprire le porte TCP 9001, UDP 5739 e TCP 11881 per la durata di questo collegamento?</translation>
    </message>
    <message>
        <source>hosts文件守护程序意外结束</source>
        <translation>Il guardiano del file hosts si è chiuso inaspettatamente</translation>
    </message>
    <message>
        <source>游戏的重定向仍留在hosts文件中。关闭本程序时会再请求一次管理员密码，把hosts文件还原。</source>
        <translation>Il reindirizzamento del gioco è ancora nel file hosts. Alla chiusura questo programma chiederà di nuovo la password di amministratore per ripristinare il file hosts.</translation>
    </message>
    <message>
        <source>hosts文件%1在联机期间被别的程序或管理员修改过。本程序只去掉了自己加入的几行，这些修改都保留了下来。</source>
        <translation>Il file hosts %1 è stato modificato durante il collegamento da un altro programma o dall&apos;amministratore. Questo programma ha tolto solo le righe che aveva aggiunto; quelle modifiche sono state mantenute.</translation>
    </message>
    <message>
        <source>hosts文件%1还带有本程序以前的游戏重定向，但它的备份已经不见了。本程序去掉了重定向的几行，其余内容保持不变。</source>
        <translation>Il file hosts %1 conteneva ancora un vecchio reindirizzamento del gioco di questo programma, ma il suo backup era sparito. Questo programma ha tolto le righe del reindirizzamento e ha lasciato il resto com&apos;era.</translation>
    </message>
    <message>
        <source>hosts文件%1在联机期间被别的程序或管理员改过，本程序的标记也被去掉了，所以本程序没有改动它。联机前的hosts文件保存在%2。</source>
        <translation>Il file hosts %1 è stato modificato durante il collegamento da un altro programma o dall&apos;amministratore, e anche il contrassegno di questo programma è stato tolto, quindi questo programma non lo ha toccato. Il file hosts di prima del collegamento è conservato in %2.</translation>
    </message>
    <message>
        <source>现在无法恢复hosts文件%1。原来的内容仍保存在备份%2中，关闭本程序时会再试一次。</source>
        <translation>Il file hosts %1 non può essere ripristinato ora. Il contenuto precedente è ancora conservato nella copia %2; questo programma riproverà alla chiusura.</translation>
    </message>
    <message>
        <source>hosts文件守护程序意外结束了，游戏的重定向还留在hosts文件中。要现在就还原hosts文件吗？（可能需要再输入一次管理员密码）还原以后，本机的游戏就连不到对方了。选“否”则在关闭本程序时还原。</source>
        <translation>Il guardiano del file hosts si è chiuso inaspettatamente e il reindirizzamento del gioco è ancora nel file hosts. Ripristinare ora il file hosts? (Potrebbe essere chiesta di nuovo la password di amministratore.) Dopo, il gioco su questo computer non potrà più raggiungere l&apos;altro giocatore. Scegli “No” per ripristinarlo alla chiusura di questo programma.</translation>
    </message>
    <message>
        <source>hosts文件已经还原，游戏的重定向没有了：本机的游戏现在连不到对方了。本程序的其余部分照常运行。要再和对方联机，请退出本程序，重新打开后再连接。</source>
        <translation>Il file hosts è stato ripristinato e il reindirizzamento del gioco non c&apos;è più: il gioco su questo computer non può più raggiungere l&apos;altro giocatore. Il resto di questo programma continua a funzionare. Per giocare di nuovo con l&apos;altro giocatore, esci da questo programma, riaprilo e collegati di nuovo.</translation>
    </message>
</context>
<context>
    <name>bramblet::TFormConnect</name>
    <message>
        <source>已建立连接，正在接收信息</source>
        <translation>Connesso, ricezione delle informazioni</translation>
    </message>
    <message>
        <source>已建立连接，正在发送信息</source>
        <translation>Connesso, invio delle informazioni</translation>
    </message>
    <message>
        <source>正在返回客户端地址</source>
        <translation>Invio dell&apos;indirizzo del client</translation>
    </message>
    <message>
        <source>正在请求端口</source>
        <translation>Richiesta della porta</translation>
    </message>
    <message>
        <source>正在返回服务器地址</source>
        <translation>Invio dell&apos;indirizzo del server</translation>
    </message>
    <message>
        <source>返回地址有误，请求重传</source>
        <translation>Indirizzo ricevuto errato: richiesta di un nuovo invio</translation>
    </message>
</context>
<context>
    <name>linksummary</name>
    <message>
        <source> 对方真实地址为：</source>
        <translation> Indirizzo avversario: </translation>
    </message>
    <message>
        <source> 速度：</source>
        <translation> Velocità: </translation>
    </message>
    <message>
        <source> 稳定性：</source>
        <translation> Stabilità: </translation>
    </message>
    <message>
        <source> 丢包：</source>
        <translation> Perdita pacchetti: </translation>
    </message>
</context>
<context>
    <name>speedtest</name>
    <message>
        <source>极好</source>
        <translation>Ottima</translation>
    </message>
    <message>
        <source>很好</source>
        <translation>Molto buona</translation>
    </message>
    <message>
        <source>良好</source>
        <translation>Buona</translation>
    </message>
    <message>
        <source>一般</source>
        <translation>Nella media</translation>
    </message>
    <message>
        <source>差</source>
        <translation>Scarsa</translation>
    </message>
    <message>
        <source>非常差</source>
        <translation>Pessima</translation>
    </message>
    <message>
        <source>没有丢包</source>
        <translation>Nessuna</translation>
    </message>
    <message>
        <source>有少量丢包</source>
        <translation>Lieve</translation>
    </message>
    <message>
        <source>有很多丢包</source>
        <translation>Forte</translation>
    </message>
    <message>
        <source>有大量丢包</source>
        <translation>Gravissima</translation>
    </message>
    <message>
        <source>测试速度，请等待10秒钟...</source>
        <translation>Test della velocità, attendi 10 secondi...</translation>
    </message>
    <message>
        <source>测试速度，请等待</source>
        <translation>Test della velocità, attendi </translation>
    </message>
    <message>
        <source>秒钟...</source>
        <translation> secondi...</translation>
    </message>
    <message>
        <source>对方Bramblet版本太低或者网络不通</source>
        <translation>Bramblet avversario troppo vecchio o rete assente</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
