"tcp",bps,,
"udp",bps,,
"tcp.port == 80",bps,,
"frame.len > 65535",packet,,
