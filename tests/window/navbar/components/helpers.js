.pragma library

// The ToolTips popups declared anywhere below `object`.
function toolTipsBelow(object) {
    const found = []
    const visit = function (o) {
        if (!o)
            return
        if (o.tipText !== undefined)
            found.push(o)
        const data = o.data || []
        for (let i = 0; i < data.length; ++i)
            visit(data[i])
    }
    visit(object)
    return found
}

function shownToolTips(object) {
    return toolTipsBelow(object).filter(tip => tip.visible)
}
