"tcp",avg(tcp.analysis.ack_rtt),,0x00ff00,line
"tcp",max(tcp.len),,0xff8000,step
"udp",sum(udp.length),,0x00c0ff,bar
"",count(ip.addr),,0xff00ff,dots
