(function () {
  const sections = SECTIONS;
  let waiting = sections.length, total = 0;
  const finish = () => {
    document.body.dataset.drawMs = Math.round(performance.now());
    document.body.dataset.gaps = document.querySelectorAll("tr.gap").length;
    document.body.dataset.drawn = total;
  };
  const pad = n => String(n).padStart(2, "0");
  // The times are the records' own clock times, shown as they are whatever the browser's time zone.
  const clock = ts => {
    const d = new Date(ts * 1e3);
    return d.getUTCFullYear() + "-" + pad(d.getUTCMonth() + 1) + "-" + pad(d.getUTCDate()) + " " +
      pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes()) + ":" + pad(d.getUTCSeconds());
  };
  const duration = s => !(s > 0) ? "—" : Math.floor(s / 3600) + ":" + pad(Math.floor(s / 60) % 60) + ":" + pad(s % 60);
  const row = (table, cls, cells) => {
    const tr = document.createElement("tr");
    if (cls) tr.className = cls;
    for (const text of cells) { const td = document.createElement("td"); td.textContent = text; tr.appendChild(td); }
    table.appendChild(tr);
  };
  const clear = table => { while (table.rows.length > 1) table.deleteRow(1); };
  const utc = ts => uPlot.tzDate(new Date(ts * 1e3), "Etc/UTC");
  if (!waiting) finish();
  const build = s => {
    const el = id => document.getElementById(s.p + id);
    const d = JSON.parse(el("data").textContent);
    const xs = new Array(d.dt.length);
    let t = d.t0;
    for (let i = 0; i < d.dt.length; i++) { t += d.dt[i]; xs[i] = t; }
    const points = d.v.reduce((n, y) => n + (y === null ? 0 : 1), 0);
    // Each point's own offset, as its record wrote it: runs of [first point, minutes, "+hh:mm"].
    const run = new Array(xs.length);
    for (let r = 0; r < d.o.length; r++) {
      const end = r + 1 < d.o.length ? d.o[r + 1][0] : xs.length;
      for (let i = d.o[r][0]; i < end; i++) run[i] = d.o[r];
    }
    const when = i => clock(xs[i] + run[i][1] * 60) + run[i][2];
    // The point at or just before an instant (the first for one before all).
    const at = ts => {
      let lo = 0, hi = xs.length - 1;
      while (lo < hi) { const mid = (lo + hi + 1) >> 1; if (xs[mid] <= ts) lo = mid; else hi = mid - 1; }
      return lo;
    };
    const input = el("limit");
    const read = () => {
      const text = input.value.trim();
      const v = Number(text);
      return text === "" || !Number.isFinite(v) ? null : v;
    };
    let limit = read();
    // Runs of values above the limit; a null (a gap, or no number) ends a run.
    const periods = () => {
      const table = el("periods");
      clear(table);
      el("periods-note").textContent = limit === null ? "输入限值后列出超过它的时段。" : "";
      if (limit === null) return;
      let count = 0, open = null;
      const close = () => {
        if (open && ++count <= 1000)
          row(table, "period", [when(open.first), when(open.last), duration(open.n * s.iv), String(open.top)]);
        open = null;
      };
      for (let i = 0; i < xs.length; i++) {
        const y = d.v[i];
        if (y === null || !(y > limit)) { close(); continue; }
        if (!open) open = { first: i, last: i, n: 0, top: y };
        open.last = i; open.n++;
        if (y > open.top) open.top = y;
      }
      close();
      if (count === 0) el("periods-note").textContent = "没有超过 " + limit + " 的记录。";
      if (count > 1000) el("periods-note").textContent = "另有 " + (count - 1000) + " 个时段未列出。";
    };
    // The ten highest values of the time the plot shows.
    const top = u => {
      // One pass keeping the ten best, highest first and of equal values the oldest first.
      const min = u.scales.x.min, max = u.scales.x.max, found = [];
      for (let i = 0; i < xs.length; i++) {
        const y = d.v[i];
        if (y === null || xs[i] < min || xs[i] > max) continue;
        if (found.length === 10 && !(y > d.v[found[9]])) continue;
        let at = found.length === 10 ? 9 : found.length;
        while (at > 0 && d.v[found[at - 1]] < y) { found[at] = found[at - 1]; at--; }
        found[at] = i;
      }
      const table = el("top");
      clear(table);
      found.forEach((i, n) => row(table, "top", [String(n + 1), when(i), String(d.v[i])]));
    };
    let marked = false;
    const box = el("plot");
    const size = () => ({ width: Math.max(box.clientWidth, 400), height: 420 });
    const plot = new uPlot(Object.assign(size(), {
      tzDate: utc,
      cursor: { drag: { x: true, y: false } },
      scales: { x: { time: true }, y: { range: (u, min, max) => {
        if (limit !== null) { min = Math.min(min ?? limit, limit); max = Math.max(max ?? limit, limit); }
        return uPlot.rangeNum(min, max, 0.1, true);
      } } },
      series: [
        { label: "时间", value: (u, ts, si, i) => i == null || ts == null ? "—" : when(i) },
        { label: "速度", stroke: "#1f6fb5", width: 1, spanGaps: false,
          value: (u, y) => y === null ? "—" : y },
      ],
      // Each tick by the clock of the records around it. The date only where it changes, the time of day
      // on every tick, the offset where it changes (when the records carry more than one).
      axes: [{ label: s.axis, space: 80, values: (u, splits) => {
                 let day = "", zone = "";
                 const seconds = splits.some(ts => ts % 60);
                 return splits.map(ts => {
                   const r = xs.length ? run[at(ts)] : [0, 0, ""];
                   const text = clock(ts + r[1] * 60), hm = text.slice(11, seconds ? 19 : 16);
                   const z = d.o.length > 1 ? r[2] : "";
                   if (text.slice(0, 10) === day && z === zone) return hm;
                   day = text.slice(0, 10);
                   zone = z;
                   return day + (z ? " " + z : "") + "\n" + hm;
                 });
               } },
             { label: "速度" }],
      hooks: {
        draw: [u => {
          if (limit !== null) {
            const y = Math.round(u.valToPos(limit, "y", true)), c = u.ctx;
            c.save();
            c.strokeStyle = "#b42318";
            c.lineWidth = devicePixelRatio;
            c.setLineDash([6 * devicePixelRatio, 4 * devicePixelRatio]);
            c.beginPath(); c.moveTo(u.bbox.left, y); c.lineTo(u.bbox.left + u.bbox.width, y); c.stroke();
            c.restore();
          }
          if (marked) return;
          marked = true;
          if (!document.body.dataset.firstDrawMs) document.body.dataset.firstDrawMs = Math.round(performance.now());
          total += points;
          if (--waiting === 0) finish();
        }],
        setScale: [(u, key) => { if (key === "x") top(u); }],
      },
    }), [xs, d.v], box);
    periods();
    top(plot);
    const again = () => plot.setScale("x", { min: plot.scales.x.min, max: plot.scales.x.max });
    input.addEventListener("input", () => { limit = read(); periods(); again(); });
    el("reset").addEventListener("click", () => {
      if (xs.length) plot.setScale("x", { min: xs[0], max: xs[xs.length - 1] });
    });
    window.addEventListener("resize", () => plot.setSize(size()));
  };
  const queue = sections.slice();
  const next = () => {
    build(queue.shift());
    if (queue.length) setTimeout(next, 0);
  };
  if (queue.length) next();
})();
