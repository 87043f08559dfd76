# web-stack.sh: the brix extension behind a real web server, for the web
# demonstration (scripts/demo-web.sh) and the web tests
# (scripts/web-tests.sh), which source this file.
#
#   stack_start RUN-DIR CONFIG DOCROOT...   start everything, or fail
#   stack_stop                              stop everything it started
#
# stack_start writes a merchant configuration CONFIG (protocol dialdemo,
# data in RUN-DIR/spool) into RUN-DIR/conf, copies each DOCROOT (a file,
# or a directory's files) into RUN-DIR/www, and starts, each with its own
# configuration, pid file, socket and logs under RUN-DIR (nothing in /etc,
# /run or /var/log is written):
#   brix-demod   on CONFIG, polling every 0.2 s           (RUN-DIR/demod.log)
#   php-fpm8.2   one pool "brix" of 4 static workers with the extension,
#                brix.config_dir set in the pool, on a Unix socket
#                                                          (RUN-DIR/fpm/)
#   nginx        on 127.0.0.1 at a free port, .php through php-fpm
#                                                          (RUN-DIR/nginx/)
# Run as root, the pool, nginx's workers and the configuration's service
# user are the unprivileged user nobody; otherwise the current user.
#
# It then sets STACK_URL (http://127.0.0.1:PORT), STACK_FPM_PID (the
# php-fpm master), STACK_USER and STACK_UID (the pool's user).  The caller
# traps EXIT to call stack_stop, which also runs after a failed start.
# Exits through `stack_fail MESSAGE` (status 1) when a step fails.

stack_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$stack_root/scripts/lib.sh"
stack_pids=()     # started processes, stopped in reverse order
STACK_URL=
STACK_FPM_PID=

stack_fail() {
    echo "web-stack: $*" >&2
    exit 1
}

stack_free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

stack_listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

stack_start() {
    local run=$1 config=$2
    shift 2
    local module=$stack_root/build/php/brix.so
    local f
    for f in "$module" "$stack_root/build/brix-demod" "$stack_root/build/brix-config"; do
        [ -f "$f" ] || stack_fail "$f is not built (make build)"
    done
    for f in php-fpm8.2 nginx; do
        command -v "$f" >/dev/null 2>&1 || stack_fail "$f is not installed (scripts/bootstrap.sh installs it)"
    done

    # As root the pool, nginx's workers and the service user are nobody.
    local group as_root=
    [ "$(id -u)" -ne 0 ] || as_root=1
    if [ -n "$as_root" ]; then
        STACK_USER=nobody
        id -u "$STACK_USER" >/dev/null 2>&1 || stack_fail "user $STACK_USER does not exist"
    else
        STACK_USER=$(id -un)
    fi
    STACK_UID=$(id -u "$STACK_USER")
    group=$(id -gn "$STACK_USER")

    # The pool's user must reach everything under the run directory.
    mkdir -p "$run"/{conf,www,fpm,nginx,spool}
    chmod 0755 "$run" "$run"/{conf,www,fpm,nginx}
    for f in "$@"; do
        if [ -d "$f" ]; then cp -R "$f"/. "$run/www/"; else cp "$f" "$run/www/"; fi
    done
    chmod -R a+rX "$run/www"
    if [ -n "$as_root" ] && ! runuser -u "$STACK_USER" -- test -x "$run/conf"; then
        stack_fail "user $STACK_USER cannot reach $run: make its parent directories searchable"
    fi
    demo_config "$STACK_USER" "$run/spool" | write_config "$stack_root/build" "$run/conf/$config.conf" ||
        stack_fail "cannot write configuration $config"
    chmod 0644 "$run/conf/$config.conf"
    chmod 0700 "$run/spool"
    : >"$run/fpm/php-errors.log"
    : >"$run/fpm/brix.log"
    [ -z "$as_root" ] || chown "$STACK_USER:$group" "$run/spool" "$run/fpm/php-errors.log" "$run/fpm/brix.log"

    # The daemon finds the configuration through the environment; php-fpm
    # clears its workers' environment, so the pool names the directory.
    local served=0
    start_demod "$run/demod.log" env "BRIX_CONFIG_DIR=$run/conf" "BRIX_LOG_FILE=$run/fpm/brix.log" \
        "$stack_root/build/brix-demod" -c "$config" -i 0.2 -v || served=$?
    stack_pids+=("$DEMOD_PID")
    [ "$served" -eq 0 ] || stack_fail "brix-demod did not start: $(cat "$run/demod.log")"

    cat >"$run/fpm/php-fpm.conf" <<FPM
[global]
pid = $run/fpm/php-fpm.pid
error_log = $run/fpm/php-fpm.log
daemonize = no

[brix]
${as_root:+user = $STACK_USER}
${as_root:+group = $group}
listen = $run/fpm/php-fpm.sock
${as_root:+listen.owner = $STACK_USER}
${as_root:+listen.group = $group}
listen.mode = 0660
pm = static
pm.max_children = 4
clear_env = yes
catch_workers_output = yes
php_admin_value[brix.config_dir] = $run/conf
env[BRIX_LOG_FILE] = $run/fpm/brix.log
php_admin_value[error_log] = $run/fpm/php-errors.log
php_admin_flag[log_errors] = on
php_admin_flag[display_errors] = off
FPM
    # -n: none of the machine's php.ini or conf.d, only this extension.
    php-fpm8.2 -n -d extension="$module" -y "$run/fpm/php-fpm.conf" -F </dev/null >/dev/null 2>&1 &
    STACK_FPM_PID=$!
    stack_pids+=($!)
    wait_until 10 $! grep -qs 'ready to handle connections' "$run/fpm/php-fpm.log" ||
        stack_fail "php-fpm did not start: $(cat "$run/fpm/php-fpm.log" 2>/dev/null)"

    # nginx cannot listen on port 0: take a port the kernel just handed
    # out, and another one if someone took it meanwhile.
    local port attempt pid
    for attempt in 1 2 3 4 5; do
        port=$(stack_free_port) || stack_fail "cannot find a free port"
        stack_nginx_conf "$run" "$port" "${as_root:+$STACK_USER}" "$group"
        : >"$run/nginx/error.log"
        nginx -p "$run/nginx" -c "$run/nginx/nginx.conf" -e "$run/nginx/error.log" </dev/null >/dev/null 2>&1 &
        pid=$!
        if wait_until 10 "$pid" stack_listening "$port"; then
            stack_pids+=("$pid")
            STACK_URL=http://127.0.0.1:$port
            return 0
        fi
        wait "$pid" 2>/dev/null || true
        grep -q 'Address already in use' "$run/nginx/error.log" ||
            stack_fail "nginx did not start: $(cat "$run/nginx/error.log")"
    done
    stack_fail "nginx found no free port in $attempt attempts"
}

# stack_nginx_conf RUN PORT USER GROUP: nginx.conf; workers run as USER
# (empty: as the current user).
stack_nginx_conf() {
    local run=$1 port=$2 user=$3 group=$4 t
    {
        echo "daemon off;"
        echo "worker_processes 1;"
        echo "pid $run/nginx/nginx.pid;"
        echo "error_log $run/nginx/error.log warn;"
        [ -z "$user" ] || echo "user $user $group;"
        echo "events { worker_connections 64; }"
        echo "http {"
        echo "    access_log $run/nginx/access.log;"
        for t in client_body fastcgi proxy uwsgi scgi; do
            echo "    ${t}_temp_path $run/nginx/$t;"
        done
        cat <<NGINX
    types { text/html html; text/css css; image/png png; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $run/www;
        index index.php;
        location ~ \.php\$ {
            try_files \$uri =404;
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
            fastcgi_pass unix:$run/fpm/php-fpm.sock;
        }
    }
}
NGINX
    } >"$run/nginx/nginx.conf"
}

# Stops what stack_start started, last first; true when each ended of
# its own accord on the signal (the daemon's exit status is its own).
stack_stop() {
    local rc=0 i pid
    for ((i = ${#stack_pids[@]} - 1; i >= 0; i--)); do
        pid=${stack_pids[i]}
        kill -TERM "$pid" 2>/dev/null || continue
        wait "$pid" 2>/dev/null || [ $? -eq 143 ] || rc=1
    done
    stack_pids=()
    return "$rc"
}
