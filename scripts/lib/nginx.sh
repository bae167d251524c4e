# Shared by the tests and benches that put nginx in front of the master's --write file: a private
# nginx on 127.0.0.1 serving one folder, with its config, pid file, logs and temporary files in a
# folder of its own. Source it, then call start_nginx; stop_nginx stops it by its PID.
NGINX_PID="" NGINX_PORT=""

# The first of PORT, PORT + 1, ... (TRIES of them) that is free: a taken one makes nginx fail at once.
start_nginx() {  # DIR ROOT PORT TRIES [WORKER_CONNECTIONS]
  local dir=$1 root=$2 connections=${5:-64} try
  mkdir -p "$dir/tmp"
  for ((try = 0; try < $4; try++)); do
    NGINX_PORT=$(($3 + try))
    cat >"$dir/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections $connections; }
http {
  access_log off;
  types { text/plain txt; }
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $root;
  }
}
EOF
    # It ends by itself after an hour, should the script that started it die.
    timeout 3600 nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" </dev/null >/dev/null 2>&1 &
    NGINX_PID=$!
    for _ in $(seq 1 100); do
      kill -0 "$NGINX_PID" 2>/dev/null || break
      curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$NGINX_PORT/" && return 0
      sleep 0.05
    done
    stop_nginx
  done
  echo "nginx: did not start; its log: $(tail -n 2 "$dir/error.log" 2>/dev/null)" >&2
  return 1
}

stop_nginx() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null
    wait "$NGINX_PID" 2>/dev/null
  fi
  NGINX_PID=""
}
