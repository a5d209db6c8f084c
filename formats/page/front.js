// The page of a front: every pair of objectives as a scatter plot, a table of
// the points, bounds that fade the points outside them, a pinned point's
// weights and its ordinary run, and the table as CSV.
(function () {
  "use strict";
  const { data, shown } = page;
  const col = (name) => data.columns.indexOf(name);
  const cell = (v, c) => (c === "point" ? String(v) : shown(v));
  const points = data.rows.map((r) => r[col("point")]);
  const value = (p, c) => data.rows[p][col(c)];
  const colours = ["#332288", "#88ccee", "#44aa99", "#117733", "#999933", "#ddcc77", "#cc6677",
                   "#882255", "#aa4499"];
  const structures = col("structure") >= 0 ? [...new Set(data.rows.map((r) => r[col("structure")]))] : [];
  const fill = (p) => structures.length ? colours[structures.indexOf(value(p, "structure")) % colours.length]
                                        : "#2e86c1";

  // The tooltip: the point's values as the table shows them.
  const describe = (p) => data.columns.map((c, j) => c + ": " + cell(data.rows[p][j], c)).join("\n");
  // Hovering a point, in a plot or the table, lights it up in both.
  const light = (p) => d3.selectAll("[data-point]").classed("hovered", function () {
    return p !== null && +this.getAttribute("data-point") === points[p] && this.id !== "pinned";
  });
  const hover = (p, event) => {
    light(p);
    page.show(describe(p), event);
  };
  const leave = () => { light(null); page.hide(); };

  // Every pair of objectives.
  const size = 300, margin = 45;
  const objectives = data.objectives;
  for (let a = 0; a < objectives.length; ++a) {
    for (let b = a + 1; b < objectives.length; ++b) {
      const oy = objectives[a], ox = objectives[b];
      const extent = (o) => {
        const values = data.rows.map((r) => r[col(o.column)]).concat([data.design_point[o.column]]);
        if (o.ai) values.push(0.8);
        for (const side of data.bands[o.column] || []) data.rows.forEach((r) => values.push(r[col(side)]));
        return d3.extent(values.filter((v) => typeof v === "number" && isFinite(v)));
      };
      const x = d3.scaleLinear().domain(extent(ox)).nice().range([margin, margin + size]);
      const y = d3.scaleLinear().domain(extent(oy)).nice().range([margin + size, margin]);
      const svg = d3.select("#plots").append("svg").attr("width", size + 2 * margin)
        .attr("height", size + 2 * margin).attr("data-pair", oy.column + " " + ox.column);
      svg.append("g").attr("transform", `translate(0,${margin + size})`).call(d3.axisBottom(x).ticks(5));
      svg.append("g").attr("transform", `translate(${margin},0)`).call(d3.axisLeft(y).ticks(5));
      svg.append("text").attr("class", "axis-label").attr("x", margin + size / 2).attr("y", size + 2 * margin - 8)
        .attr("text-anchor", "middle").text(ox.column);
      svg.append("text").attr("class", "axis-label").attr("transform", `translate(12,${margin + size / 2}) rotate(-90)`)
        .attr("text-anchor", "middle").text(oy.column);
      if (ox.ai) svg.append("line").attr("class", "reference").attr("x1", x(0.8)).attr("x2", x(0.8))
        .attr("y1", margin).attr("y2", margin + size);
      if (oy.ai) svg.append("line").attr("class", "reference").attr("y1", y(0.8)).attr("y2", y(0.8))
        .attr("x1", margin).attr("x2", margin + size);
      const bands = (o) => data.bands[o.column];
      if (bands(ox) || bands(oy)) {
        data.rows.forEach((r, p) => {
          if (bands(ox)) svg.append("line").attr("stroke", "#999").attr("y1", y(value(p, oy.column)))
            .attr("y2", y(value(p, oy.column))).attr("x1", x(value(p, bands(ox)[0]))).attr("x2", x(value(p, bands(ox)[1])));
          if (bands(oy)) svg.append("line").attr("stroke", "#999").attr("x1", x(value(p, ox.column)))
            .attr("x2", x(value(p, ox.column))).attr("y1", y(value(p, bands(oy)[0]))).attr("y2", y(value(p, bands(oy)[1])));
        });
      }
      svg.append("path").attr("class", "design").attr("data-kind", "design")
        .attr("d", d3.symbol().type(d3.symbolDiamond).size(90)())
        .attr("transform", `translate(${x(data.design_point[ox.column])},${y(data.design_point[oy.column])})`);
      svg.selectAll("circle.point").data(d3.range(points.length)).enter().append("circle")
        .attr("class", "point").attr("r", 4).attr("data-point", (p) => points[p])
        .attr("cx", (p) => x(value(p, ox.column))).attr("cy", (p) => y(value(p, oy.column)))
        .attr("fill", fill)
        .on("mouseover", function (p) { hover(p, d3.event); })
        .on("mouseout", leave)
        .on("click", (p) => pin(p));
    }
  }

  // The structures' colours, one entry each.
  if (structures.length) {
    const legend = d3.select("#plots").append("div").attr("class", "legend");
    structures.forEach((name, i) => {
      const entry = legend.append("span").attr("data-structure", name);
      entry.append("svg").attr("width", 12).attr("height", 12).append("circle")
        .attr("cx", 6).attr("cy", 6).attr("r", 5).attr("fill", colours[i % colours.length]);
      entry.append("span").text(" " + name);
    });
  }

  // The table, sortable by any column, linked to the plots.
  const table = d3.select("#points").append("table");
  table.append("thead").append("tr").selectAll("th").data(data.columns).enter().append("th")
    .text((c) => c).on("click", (c) => sort(c));
  const body = table.append("tbody");
  const rows = body.selectAll("tr").data(d3.range(points.length)).enter().append("tr")
    .attr("data-point", (p) => points[p]).on("click", (p) => pin(p))
    .on("mouseover", function (p) { hover(p, d3.event); }).on("mouseout", leave);
  rows.selectAll("td").data((p) => data.rows[p].map((v, j) => cell(v, data.columns[j]))).enter()
    .append("td").text((t) => t);
  let ascending = false;
  function sort(c) {
    ascending = !ascending;
    rows.sort((a, b) => (ascending ? d3.ascending : d3.descending)(value(a, c), value(b, c)));
  }

  // Bounds: a minimum for what is maximized, a maximum for a cost.
  const bounds = d3.select("#bounds");
  for (const o of objectives) {
    const label = bounds.append("label").text((o.maximize ? "minimum " : "maximum ") + o.name + " ");
    label.append("input").attr("type", "number").attr("step", "any").attr("data-bound", o.name)
      .on("input", update);
  }
  function update() {
    const limits = [];
    bounds.selectAll("input").each(function () {
      const o = objectives.find((q) => q.name === this.getAttribute("data-bound"));
      if (this.value !== "" && isFinite(+this.value)) limits.push([o, +this.value]);
    });
    const outside = (p) => limits.some(([o, v]) => (o.maximize ? value(p, o.column) < v : value(p, o.column) > v));
    const first = objectives[0];
    let best = -1;
    for (let p = 0; p < points.length; ++p) {
      if (outside(p)) continue;
      const better = best < 0 || (first.maximize ? value(p, first.column) > value(best, first.column)
                                                 : value(p, first.column) < value(best, first.column));
      if (better) best = p;
    }
    d3.selectAll("[data-point]").each(function () {
      const p = points.indexOf(+this.getAttribute("data-point"));
      if (p < 0 || this.id === "pinned") return;
      this.setAttribute("data-excluded", outside(p) ? "true" : "false");
      if (p === best && limits.length > 0) this.setAttribute("data-best", "true");
      else this.removeAttribute("data-best");
    });    // The best left, in words: a click pins it.
    const line = d3.select("#best").text("").on("click", null);
    if (limits.length === 0) return;
    if (best < 0) {
      line.text("No point is within the bounds.");
      return;
    }
    line.text("Best within the bounds by " + first.name + ": point " + points[best] +
              (structures.length ? " (" + value(best, "structure") + ")" : "") + ", " +
              objectives.map((o) => o.column + " " + shown(value(best, o.column))).join(", "))
      .on("click", () => pin(best));
  }

  // A pinned point: its weights per stage as stacked bars, its rates and cost.
  function pin(p) {
    rows.classed("pinned", (q) => q === p);
    const box = d3.select("#pinned").html("").attr("data-pinned", points[p]);
    box.append("h2").text("Point " + points[p] + (structures.length ? " (" + value(p, "structure") + ")" : ""));
    const width = 60, height = 160;
    const legend = 20 + data.stages * (width + 20);
    const svg = box.append("svg").attr("width", legend + 160)
      .attr("height", Math.max(height + 40, 20 * data.predictors.length + 20));
    data.predictors.forEach((name, j) => {
      svg.append("rect").attr("x", legend).attr("y", 10 + 20 * j).attr("width", 12).attr("height", 12)
        .attr("fill", d3.schemeTableau10[j % 10]);
      svg.append("text").attr("x", legend + 18).attr("y", 21 + 20 * j).attr("class", "axis-label").text(name);
    });
    for (let s = 1; s <= data.stages; ++s) {
      let top = 0;
      data.predictors.forEach((name, j) => {
        const w = Math.abs(value(p, "w" + s + "_" + name));
        svg.append("rect").attr("x", 20 + (s - 1) * (width + 20)).attr("y", 10 + top * height)
          .attr("width", width).attr("height", w * height).attr("fill", d3.schemeTableau10[j % 10])
          .attr("data-stage", s).attr("data-predictor", name).attr("data-weight", value(p, "w" + s + "_" + name))
          .append("title").text(name + ": " + shown(value(p, "w" + s + "_" + name)));
        top += w;
      });
      svg.append("text").attr("x", 20 + (s - 1) * (width + 20) + width / 2).attr("y", height + 30)
        .attr("text-anchor", "middle").attr("class", "axis-label").text("stage " + s);
    }
    const facts = data.columns.filter((c) => !/^w[0-9]+_/.test(c) && c !== "point");
    box.append("p").text(facts.map((c) => c + " " + cell(value(p, c), c)).join(", "));

    // Its ordinary run, stage by stage, at the expected inputs.
    const detail = data.details[p];
    if (!detail) {
      box.append("p").text("This point's ordinary run computes no result.");
      return;
    }
    box.append("h3").text("Stage by stage (an ordinary run of this point, at the expected inputs)");
    const stages = box.append("table").attr("class", "stages");
    const head = stages.append("thead");
    const top = head.append("tr");
    top.append("th").attr("rowspan", 2).text("stage");
    top.append("th").attr("rowspan", 2).text("quality of all");
    data.groups.forEach((g) => top.append("th").attr("colspan", 3).text(g));
    const sub = head.append("tr");
    data.groups.forEach(() => ["quality", "Cum. AI", "Stage AI"].forEach((t) => sub.append("th").text(t)));
    const tbody = stages.append("tbody");
    detail.forEach((stage, s) => {
      const tr = tbody.append("tr").attr("data-stage", s + 1);
      tr.append("td").text(s + 1);
      tr.append("td").attr("data-measure", "quality").text(shown(stage.quality));
      stage.groups.forEach((v, g) => ["quality", "cum_ai", "stage_ai"].forEach((m, i) =>
        tr.append("td").attr("data-group", data.groups[g]).attr("data-measure", m).text(shown(v[i]))));
    });
  }

  // The table as CSV, from the page's own data.
  d3.select("[data-download]").on("click", () => {
    const quote = (v) => (/[",\r\n]/.test(String(v)) ? '"' + String(v).replace(/"/g, '""') + '"' : String(v));
    const text = [data.columns.join(",")].concat(data.rows.map((r) => r.map(quote).join(","))).join("\n") + "\n";
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([text], { type: "text/csv" }));
    link.download = "front.csv";
    link.click();
  });
  update();
})();
