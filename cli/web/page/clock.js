// The clock page: the server pushes the senders' new states, several in one message at most
// once per display frame, and judges silence; this only keeps the newest of everything, draws it
// once per animation frame and reconnects.
"use strict";
(function () {
    const list = document.getElementById("senders");
    const status = document.getElementById("status");
    // In the order this page first heard them, kept across reconnections: a restarted server
    // numbers them anew and knows nothing of a sender that fell silent before it came.
    const senders = [];
    const places = new Map(); // "address/stream" to its place in senders
    const rows = [];
    let lost = false;
    let scheduled = false;
    let delay = 250; // the next reconnection's wait, doubled up to maxDelay
    const maxDelay = 4000;

    function row(index) {
        if (!rows[index]) {
            const element = document.createElement("div");
            element.className = "sender";
            element.innerHTML = '<div class="tc"></div><div class="meta"></div>';
            list.appendChild(element);
            rows[index] = element;
        }
        return rows[index];
    }

    function show(index, tc, meta, silent) {
        const element = row(index);
        element.classList.toggle("silent", silent);
        element.firstChild.textContent = tc;
        element.lastChild.textContent = meta;
    }

    function draw() {
        scheduled = false;
        const shown = senders.filter(Boolean);
        if (shown.length === 0)
            show(0, "--:--:--:--", lost ? "" : "waiting for Art-Net timecode", false);
        shown.forEach(function (s, index) {
            let address = s.stream ? s.address + " \u00b7 " + s.stream : s.address;
            if (s.conflict)
                address += " \u00b7 two sources";
            show(index, s.tc, [s.rate, s.name, address].filter(Boolean).join("  \u00b7  "),
                 s.silent);
        });
        const count = Math.max(1, shown.length);
        while (rows.length > count)
            list.removeChild(rows.pop());
        list.className = count > 1 ? "many" : "one";
        list.style.setProperty("--rows", count);
        document.body.classList.toggle("lost", lost);
        status.hidden = !lost;
    }

    function changed() {
        if (!scheduled) {
            scheduled = true;
            requestAnimationFrame(draw);
        }
    }

    function connect() {
        const scheme = location.protocol === "https:" ? "wss://" : "ws://";
        const socket = new WebSocket(scheme + location.host + "/ws");
        socket.onopen = function () {
            delay = 250;
            lost = false; // the server sends everything it knows next
            changed();
        };
        socket.onmessage = function (event) {
            // An array of states in the order they came: a sender's last one is its newest.
            let states;
            try {
                states = JSON.parse(event.data);
            } catch (error) {
                return;
            }
            if (!Array.isArray(states))
                return;
            states.forEach(function (state) {
                if (!state || typeof state.address !== "string")
                    return;
                const key = state.address + "/" + state.stream;
                let place = places.get(key);
                if (place === undefined) {
                    if (senders.length > 1023)
                        return;
                    place = senders.length;
                    places.set(key, place);
                }
                senders[place] = state;
            });
            changed();
        };
        socket.onclose = function () {
            // Silent until a server says otherwise: it tells of every sender it knows at once.
            senders.forEach(function (s) { s.silent = true; });
            lost = true;
            changed();
            setTimeout(connect, delay);
            delay = Math.min(delay * 2, maxDelay);
        };
    }

    function toggleFullScreen() {
        if (document.fullscreenElement)
            document.exitFullscreen();
        else if (document.documentElement.requestFullscreen)
            document.documentElement.requestFullscreen().catch(function () {});
    }

    document.getElementById("fullscreen").addEventListener("click", toggleFullScreen);
    document.addEventListener("dblclick", toggleFullScreen);
    draw();
    connect();
})();
